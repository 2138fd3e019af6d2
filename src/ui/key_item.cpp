#include "ui/key_item.h"

#include <string>

#include "hive/format.h"
#include "hive/hive.h"

struct _TolKeyItem {
  GObject parent_instance;
  TolHive* hive;  // not owned
  std::uint32_t offset;
  char* name;
  char* folded_name;  // null until asked for
};

G_DEFINE_FINAL_TYPE(TolKeyItem, tol_key_item, G_TYPE_OBJECT)

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
  self->offset = TOL_NO_CELL;
  self->name = nullptr;
  self->folded_name = nullptr;
}

TolKeyItem* tol_key_item_new(TolHive* hive, std::uint32_t offset, const char* name) {
  auto* self = TOL_KEY_ITEM(g_object_new(TOL_TYPE_KEY_ITEM, nullptr));
  self->hive = hive;
  self->offset = offset;
  self->name = g_strdup(name != nullptr ? name : "");
  return self;
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

// ---- TolKeyList ---------------------------------------------------------------

namespace {

struct KeyListData {
  TolHive* hive = nullptr;  // not owned
  std::vector<std::uint32_t> offsets;
  std::vector<TolKeyItem*> items;  // owned references, null until asked for
};

}  // namespace

struct _TolKeyList {
  GObject parent_instance;
  KeyListData* d;
};

static GType tol_key_list_get_item_type(GListModel*) {
  return TOL_TYPE_KEY_ITEM;
}

static guint tol_key_list_get_n_items(GListModel* model) {
  return static_cast<guint>(TOL_KEY_LIST(model)->d->offsets.size());
}

static gpointer tol_key_list_get_item(GListModel* model, guint position) {
  KeyListData& d = *TOL_KEY_LIST(model)->d;
  if (position >= d.offsets.size())
    return nullptr;
  TolKeyItem*& item = d.items[position];
  if (item == nullptr) {
    const std::string name = tol_hive_key_name(*d.hive, d.offsets[position]);
    item = tol_key_item_new(d.hive, d.offsets[position], name.c_str());
  }
  return g_object_ref(item);
}

static void tol_key_list_model_init(GListModelInterface* iface) {
  iface->get_item_type = tol_key_list_get_item_type;
  iface->get_n_items = tol_key_list_get_n_items;
  iface->get_item = tol_key_list_get_item;
}

G_DEFINE_FINAL_TYPE_WITH_CODE(TolKeyList, tol_key_list, G_TYPE_OBJECT,
                              G_IMPLEMENT_INTERFACE(G_TYPE_LIST_MODEL, tol_key_list_model_init))

static void tol_key_list_finalize(GObject* object) {
  KeyListData* d = TOL_KEY_LIST(object)->d;
  for (TolKeyItem* item : d->items) {
    if (item != nullptr)
      g_object_unref(item);
  }
  delete d;
  G_OBJECT_CLASS(tol_key_list_parent_class)->finalize(object);
}

static void tol_key_list_class_init(TolKeyListClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = tol_key_list_finalize;
}

static void tol_key_list_init(TolKeyList* self) {
  self->d = new KeyListData();
}

TolKeyList* tol_key_list_new(TolHive* hive, std::vector<std::uint32_t> offsets) {
  auto* self = TOL_KEY_LIST(g_object_new(TOL_TYPE_KEY_LIST, nullptr));
  self->d->hive = hive;
  self->d->items.assign(offsets.size(), nullptr);
  self->d->offsets = std::move(offsets);
  return self;
}
