#include "ui/key_item.h"

#include "hive/format.h"
#include "hive/hive.h"

struct _TolKeyItem {
  GObject parent_instance;
  TolHive* hive;  // not owned
  TolKeyItemKind kind;
  std::uint32_t offset;
  std::size_t deleted_index;
  std::uint32_t record;
  char* name;
  char* folded_name;  // null until asked for
  bool had_subkeys;   // when the item was made, which its row's expander learnt
};

G_DEFINE_FINAL_TYPE(TolKeyItem, tol_key_item, G_TYPE_OBJECT)

// What the record says, without reading its list: rows are made for every
// key type-ahead passes over.
static bool has_subkeys(const TolHive* hive, std::uint32_t offset) {
  if (hive == nullptr) return false;
  const auto key = tol_hive_key(*hive, offset);
  return key && key->u32(TOL_NK_SUBKEY_COUNT) != 0;
}

static void tol_key_item_finalize(GObject* object) {
  g_free(TOL_KEY_ITEM(object)->name);
  g_free(TOL_KEY_ITEM(object)->folded_name);
  G_OBJECT_CLASS(tol_key_item_parent_class)->finalize(object);
}

static void tol_key_item_class_init(TolKeyItemClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = tol_key_item_finalize;
}

static void tol_key_item_init(TolKeyItem* self) {
  self->hive = nullptr;
  self->kind = TolKeyItemKind::live;
  self->offset = TOL_NO_CELL;
  self->deleted_index = 0;
  self->record = TOL_NO_CELL;
  self->had_subkeys = false;
  self->name = nullptr;
  self->folded_name = nullptr;
}

TolKeyItem* tol_key_item_new(TolHive* hive, std::uint32_t offset, const char* name) {
  auto* self = TOL_KEY_ITEM(g_object_new(TOL_TYPE_KEY_ITEM, nullptr));
  self->hive = hive;
  self->offset = offset;
  self->name = g_strdup(name != nullptr ? name : "");
  self->had_subkeys = has_subkeys(hive, offset);
  return self;
}

TolKeyItem* tol_key_item_new_deleted(TolHive* hive, std::size_t index, std::uint32_t record,
                                     const char* name) {
  auto* self = TOL_KEY_ITEM(g_object_new(TOL_TYPE_KEY_ITEM, nullptr));
  self->hive = hive;
  self->kind = TolKeyItemKind::deleted;
  self->deleted_index = index;
  self->record = record;
  self->name = g_strdup(name != nullptr ? name : "");
  return self;
}

TolKeyItem* tol_key_item_new_unknown(TolHive* hive, const char* label) {
  auto* self = TOL_KEY_ITEM(g_object_new(TOL_TYPE_KEY_ITEM, nullptr));
  self->hive = hive;
  self->kind = TolKeyItemKind::unknown;
  self->name = g_strdup(label != nullptr ? label : "");
  return self;
}

TolKeyItemKind tol_key_item_get_kind(TolKeyItem* self) {
  g_return_val_if_fail(TOL_IS_KEY_ITEM(self), TolKeyItemKind::live);
  return self->kind;
}

std::size_t tol_key_item_get_deleted_index(TolKeyItem* self) {
  g_return_val_if_fail(TOL_IS_KEY_ITEM(self), 0);
  return self->deleted_index;
}

std::uint32_t tol_key_item_get_record(TolKeyItem* self) {
  g_return_val_if_fail(TOL_IS_KEY_ITEM(self), TOL_NO_CELL);
  return self->record;
}

TolHive* tol_key_item_get_hive(TolKeyItem* self) {
  g_return_val_if_fail(TOL_IS_KEY_ITEM(self), nullptr);
  return self->hive;
}

std::uint32_t tol_key_item_get_offset(TolKeyItem* self) {
  g_return_val_if_fail(TOL_IS_KEY_ITEM(self), TOL_NO_CELL);
  return self->offset;
}

const char* tol_key_item_get_name(TolKeyItem* self) {
  g_return_val_if_fail(TOL_IS_KEY_ITEM(self), "");
  return self->name;
}

const char* tol_key_item_get_folded_name(TolKeyItem* self) {
  g_return_val_if_fail(TOL_IS_KEY_ITEM(self), "");
  // Type-ahead looks at every shown row on each key press; folding each name
  // once keeps that from allocating for every row every time.
  if (self->folded_name == nullptr)
    self->folded_name = g_utf8_casefold(self->name, -1);
  return self->folded_name;
}

bool tol_key_item_is_current(TolKeyItem* self) {
  g_return_val_if_fail(TOL_IS_KEY_ITEM(self), false);
  if (self->hive == nullptr || self->kind != TolKeyItemKind::live) return false;
  return tol_hive_key_name(*self->hive, self->offset) == self->name &&
         self->had_subkeys == has_subkeys(self->hive, self->offset);
}
