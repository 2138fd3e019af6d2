#include "ui/value_item.h"

#include <glib/gi18n-lib.h>

#include <vector>

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
