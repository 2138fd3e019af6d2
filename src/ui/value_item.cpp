#include "ui/value_item.h"

#include <glib/gi18n-lib.h>

#include <vector>

#include "hive/deleted.h"
#include "hive/hive.h"
#include "value/codec.h"

namespace {

struct ValueFields {
  std::string name;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  std::string type_text;
  std::string data_text;
  TolDiffMark diff = TOL_DIFF_NONE;
  bool deleted = false;
  std::uint32_t record = TOL_NO_CELL;  // of a deleted value
};

}  // namespace

struct _TolValueItem {
  GObject parent_instance;
  ValueFields* fields;
};

G_DEFINE_FINAL_TYPE(TolValueItem, tol_value_item, G_TYPE_OBJECT)

static void tol_value_item_finalize(GObject* object) {
  delete TOL_VALUE_ITEM(object)->fields;
  G_OBJECT_CLASS(tol_value_item_parent_class)->finalize(object);
}

static void tol_value_item_class_init(TolValueItemClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = tol_value_item_finalize;
}

static void tol_value_item_init(TolValueItem* self) {
  self->fields = new ValueFields();
}

TolValueItem* tol_value_item_new(const TolHiveValue& value, TolDiffMark diff) {
  auto* self = TOL_VALUE_ITEM(g_object_new(TOL_TYPE_VALUE_ITEM, nullptr));
  ValueFields& f = *self->fields;
  f.name = value.name;
  f.type = value.type;
  f.data = value.data;
  f.type_text = tol_value_type_name(value.type);
  f.data_text = tol_value_data_text(value.type, value.data);
  f.diff = diff;
  return self;
}

TolValueItem* tol_value_item_new_deleted(const TolDeletedValue& value, const std::vector<std::uint8_t>* data) {
  auto* self = TOL_VALUE_ITEM(g_object_new(TOL_TYPE_VALUE_ITEM, nullptr));
  ValueFields& f = *self->fields;
  f.name = value.name;
  f.type = value.type;
  if (data != nullptr) f.data = *data;
  f.type_text = tol_value_type_name(value.type);
  f.data_text = data != nullptr ? tol_value_data_text(value.type, f.data) : std::string(_("(data lost)"));
  f.deleted = true;
  f.record = value.record;
  return self;
}

const std::string& tol_value_item_get_name(TolValueItem* self) {
  return self->fields->name;
}

std::uint32_t tol_value_item_get_value_type(TolValueItem* self) {
  return self->fields->type;
}

std::span<const std::uint8_t> tol_value_item_get_data(TolValueItem* self) {
  return self->fields->data;
}

const std::string& tol_value_item_get_type_text(TolValueItem* self) {
  return self->fields->type_text;
}

const std::string& tol_value_item_get_data_text(TolValueItem* self) {
  return self->fields->data_text;
}

TolDiffMark tol_value_item_get_diff(TolValueItem* self) {
  return self->fields->diff;
}

std::string tol_value_item_get_display_name(TolValueItem* self) {
  const std::string& name = self->fields->name;
  return name.empty() ? std::string(_("(Default)")) : name;
}

bool tol_value_item_is_deleted(TolValueItem* self) {
  return self->fields->deleted;
}

std::uint32_t tol_value_item_get_record(TolValueItem* self) {
  return self->fields->record;
}
