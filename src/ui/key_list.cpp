#include "ui/key_list.h"

#include <algorithm>
#include <string>
#include <unordered_map>

#include "hive/hive.h"

namespace {

struct KeyListData {
  TolHive* hive = nullptr;  // not owned
  std::uint32_t parent = TOL_NO_CELL;
  std::vector<std::uint32_t> offsets;
  std::vector<TolKeyItem*> items;  // owned references, null until asked for
};

// Beyond this many separate runs of changes one splice of the changed span is
// cheaper than telling each; the rows inside it lose their expansion.
constexpr std::size_t kMaxRuns = 64;

// The positions in `kept_old` (old indices, in new order) that form the
// longest increasing run: those items keep their relative order and can stay.
std::vector<bool> longest_increasing(const std::vector<std::size_t>& seq) {
  std::vector<std::size_t> tails;  // index into seq of the smallest tail per length
  std::vector<std::size_t> prev(seq.size(), SIZE_MAX);
  for (std::size_t i = 0; i < seq.size(); ++i) {
    auto it = std::lower_bound(tails.begin(), tails.end(), seq[i],
                               [&](std::size_t t, std::size_t v) { return seq[t] < v; });
    if (it != tails.begin()) prev[i] = *(it - 1);
    if (it == tails.end())
      tails.push_back(i);
    else
      *it = i;
  }
  std::vector<bool> in(seq.size(), false);
  for (std::size_t i = tails.empty() ? SIZE_MAX : tails.back(); i != SIZE_MAX; i = prev[i]) in[i] = true;
  return in;
}

}  // namespace

struct _TolKeyList {
  GObject parent_instance;
  KeyListData* d;
};

static GType tol_key_list_get_item_type(GListModel*) { return TOL_TYPE_KEY_ITEM; }

static guint tol_key_list_get_n_items(GListModel* model) {
  return static_cast<guint>(TOL_KEY_LIST(model)->d->offsets.size());
}

static gpointer tol_key_list_get_item(GListModel* model, guint position) {
  KeyListData& d = *TOL_KEY_LIST(model)->d;
  if (position >= d.offsets.size()) return nullptr;
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
  for (TolKeyItem* item : d->items) g_clear_object(&item);
  delete d;
  G_OBJECT_CLASS(tol_key_list_parent_class)->finalize(object);
}

static void tol_key_list_class_init(TolKeyListClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = tol_key_list_finalize;
}

static void tol_key_list_init(TolKeyList* self) { self->d = new KeyListData(); }

TolKeyList* tol_key_list_new(TolHive* hive, std::uint32_t parent) {
  auto* self = TOL_KEY_LIST(g_object_new(TOL_TYPE_KEY_LIST, nullptr));
  self->d->hive = hive;
  self->d->parent = parent;
  self->d->offsets = tol_hive_subkeys(*hive, parent);
  self->d->items.assign(self->d->offsets.size(), nullptr);
  return self;
}

std::uint32_t tol_key_list_get_parent(TolKeyList* self) {
  g_return_val_if_fail(TOL_IS_KEY_LIST(self), TOL_NO_CELL);
  return self->d->parent;
}

std::vector<std::uint32_t> tol_key_list_refresh(TolKeyList* self) {
  g_return_val_if_fail(TOL_IS_KEY_LIST(self), std::vector<std::uint32_t>());
  KeyListData& d = *self->d;
  const std::vector<std::uint32_t> fresh = tol_hive_subkeys(*d.hive, d.parent);

  // An old entry can stay when its key is still listed and its item, if one
  // was made, still describes it.
  std::unordered_map<std::uint32_t, std::size_t> old_index;
  old_index.reserve(d.offsets.size());
  for (std::size_t i = 0; i < d.offsets.size(); ++i) {
    if (d.items[i] != nullptr && !tol_key_item_is_current(d.items[i])) continue;
    old_index.emplace(d.offsets[i], i);
  }
  std::vector<std::size_t> matched;        // old index per matched new entry
  std::vector<std::size_t> matched_fresh;  // its new index
  for (std::size_t j = 0; j < fresh.size(); ++j) {
    if (auto it = old_index.find(fresh[j]); it != old_index.end()) {
      matched.push_back(it->second);
      matched_fresh.push_back(j);
      old_index.erase(it);  // a damaged list may name a key twice
    }
  }
  const std::vector<bool> stays = longest_increasing(matched);
  std::vector<bool> old_stays(d.offsets.size(), false), new_stays(fresh.size(), false);
  for (std::size_t k = 0; k < matched.size(); ++k) {
    if (!stays[k]) continue;
    old_stays[matched[k]] = true;
    new_stays[matched_fresh[k]] = true;
  }

  std::size_t runs = 0;
  for (std::size_t i = 0; i < old_stays.size(); ++i)
    runs += !old_stays[i] && (i == 0 || old_stays[i - 1]);
  for (std::size_t j = 0; j < new_stays.size(); ++j)
    runs += !new_stays[j] && (j == 0 || new_stays[j - 1]);

  auto* model = G_LIST_MODEL(self);
  std::vector<std::uint32_t> kept;
  if (runs > kMaxRuns) {
    // One splice between the first and the last change.
    std::size_t head = 0;
    while (head < old_stays.size() && head < new_stays.size() && old_stays[head] && new_stays[head]) ++head;
    std::size_t tail = 0;
    while (tail < old_stays.size() - head && tail < new_stays.size() - head &&
           old_stays[old_stays.size() - 1 - tail] && new_stays[new_stays.size() - 1 - tail])
      ++tail;
    const std::size_t removed = d.offsets.size() - head - tail;
    const std::size_t added = fresh.size() - head - tail;
    for (std::size_t i = head; i < head + removed; ++i) g_clear_object(&d.items[i]);
    d.items.erase(d.items.begin() + static_cast<std::ptrdiff_t>(head),
                  d.items.begin() + static_cast<std::ptrdiff_t>(head + removed));
    d.items.insert(d.items.begin() + static_cast<std::ptrdiff_t>(head), added, nullptr);
    d.offsets = fresh;
    g_list_model_items_changed(model, static_cast<guint>(head), static_cast<guint>(removed),
                               static_cast<guint>(added));
  } else {
    // Leavers from the back, so earlier positions stay valid; then newcomers
    // from the front, each at its final place.
    for (std::size_t end = d.offsets.size(); end > 0;) {
      if (old_stays[end - 1]) {
        --end;
        continue;
      }
      std::size_t begin = end;
      while (begin > 0 && !old_stays[begin - 1]) --begin;
      for (std::size_t i = begin; i < end; ++i) g_clear_object(&d.items[i]);
      d.items.erase(d.items.begin() + static_cast<std::ptrdiff_t>(begin),
                    d.items.begin() + static_cast<std::ptrdiff_t>(end));
      d.offsets.erase(d.offsets.begin() + static_cast<std::ptrdiff_t>(begin),
                      d.offsets.begin() + static_cast<std::ptrdiff_t>(end));
      g_list_model_items_changed(model, static_cast<guint>(begin), static_cast<guint>(end - begin), 0);
      end = begin;
    }
    for (std::size_t begin = 0; begin < fresh.size();) {
      if (new_stays[begin]) {
        ++begin;
        continue;
      }
      std::size_t end = begin;
      while (end < fresh.size() && !new_stays[end]) ++end;
      d.items.insert(d.items.begin() + static_cast<std::ptrdiff_t>(begin), end - begin, nullptr);
      d.offsets.insert(d.offsets.begin() + static_cast<std::ptrdiff_t>(begin),
                       fresh.begin() + static_cast<std::ptrdiff_t>(begin),
                       fresh.begin() + static_cast<std::ptrdiff_t>(end));
      g_list_model_items_changed(model, static_cast<guint>(begin), 0, static_cast<guint>(end - begin));
      begin = end;
    }
  }
  for (std::size_t j = 0; j < fresh.size(); ++j)
    if (new_stays[j]) kept.push_back(fresh[j]);
  return kept;
}
