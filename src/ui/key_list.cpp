#include "ui/key_list.h"

#include <string>

#include "hive/hive.h"

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
