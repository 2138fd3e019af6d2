// The hostile corpus. Field offsets are those of the record layouts, counted
// from the cell data: nk 0x10 parent, 0x14 subkey count, 0x1C subkey list,
// 0x24 value count, 0x28 value list, 0x2C sk, 0x34 largest subkey name,
// 0x48 name length; vk 0x02 name length, 0x04 data length, 0x08 data offset;
// lists 0x02 count, 0x04 entries; db 0x02 count, 0x04 segment list; sk 0x04
// and 0x08 links, 0x0C reference count, 0x10 descriptor length.
#include "corpus.h"

#include <functional>
#include <set>
#include <stdexcept>

namespace tol::test {

const char* edit_result_name(EditResult result) {
  switch (result) {
    case EditResult::clean:
      return "clean";
    case EditResult::damaged:
      return "damaged";
    case EditResult::unchanged:
      return "unchanged";
  }
  return "?";
}

namespace {

constexpr std::uint32_t kLargeNames =
    0xFFFF;  // a largest-subkey-name field that covers every test name

// Root with a default value; "Keep" must survive every edit of "Victim".
KeySpec base_tree() {
  return key("ROOT",
           {key("Keep", {key("Child")}, {val("s", 1, utf16le_sz("keep")), val("d", 4, le32(7))}),
            key("Victim", {key("V1"), key("V2")},
              {val("a", 1, utf16le_sz("alpha")), val("b", 3, pattern(40, 5)), val("c", 4, le32(1))})},
           {val("", 1, utf16le_sz("root default"))});
}

struct Expect {
  bool sound;
  EditResult edits;
  EditResult remove;
  bool shared = false;
};
// Damage confined to the victim: deleting it leaves a sound hive.
constexpr Expect kLocal{false, EditResult::damaged, EditResult::clean};
// Damage that deleting the victim does not take away.
constexpr Expect kLasting{false, EditResult::damaged, EditResult::damaged};
// Odd but valid: the check accepts it and every edit keeps it sound.
constexpr Expect kSound{true, EditResult::clean, EditResult::clean};
// Nothing can be edited: no readable root, or bins that readers cannot walk.
constexpr Expect kLocked{false, EditResult::unchanged, EditResult::unchanged};
// One cell serves two owners, or live records lie in free cells.
constexpr Expect kShared{false, EditResult::damaged, EditResult::damaged, true};
// Shared cells that all lie in the victim's subtree: deleting it takes them all.
constexpr Expect kSharedInSubtree{false, EditResult::damaged, EditResult::clean, true};
// The edits themselves replace the damaged records.
constexpr Expect kMended{false, EditResult::clean, EditResult::clean};
// No key lists the damaged key where its parent field points: it can be
// given values but neither renamed nor deleted.
constexpr Expect kPinned{false, EditResult::damaged, EditResult::unchanged};

// The base tree laid out in a builder, with the offsets damage needs.
struct Base {
  HiveBuilder b;
  BuiltTree t;
  // The victim's largest-length fields leave room for the values damage puts there.
  Base() : t(b.tree(base_tree())) {
    b.patch_u32(victim(), 0x3C, 0x200);
    b.patch_u32(victim(), 0x40, 0x7FFFFFFF);
  }

  std::uint32_t victim() const { return t.key("Victim"); }
  std::uint32_t v1() const { return t.key("Victim\\V1"); }
  std::uint32_t v2() const { return t.key("Victim\\V2"); }
  std::uint32_t value(const char* name) const { return t.value("Victim", name); }
  // The data cell of a value stored in one cell.
  std::uint32_t data_of(const char* name) { return b.read_u32(value(name), 0x08); }
  std::uint32_t value_list() { return b.read_u32(victim(), 0x28); }

  // A key sharing the tree's sk record, whose count rises with it.
  std::uint32_t add_key(const std::string& name, std::uint32_t parent,
                        NameForm form = NameForm::Auto) {
    NkRecord r;
    r.name = encode_name(name, form);
    r.parent = parent;
    r.sk = t.sk;
    b.patch_u32(t.sk, 0x0C, b.read_u32(t.sk, 0x0C) + 1);
    return b.nk(r);
  }
  // Keys the damage leaves unlisted no longer count as users of the sk.
  void orphan(std::uint32_t n) { b.patch_u32(t.sk, 0x0C, b.read_u32(t.sk, 0x0C) - n); }
  void set_subkeys(std::uint32_t key, std::uint32_t list, std::uint32_t count) {
    b.patch_u32(key, 0x14, count);
    b.patch_u32(key, 0x1C, list);
    b.patch_u32(key, 0x34, kLargeNames);
  }
  // A chain of n keys below parent, each the only subkey of the one above;
  // returns the first. The parent's own list is left alone.
  std::uint32_t chain(std::uint32_t parent, int n, const std::string& prefix) {
    std::uint32_t first = kNoCell;
    std::uint32_t above = parent;
    for (int i = 0; i < n; ++i) {
      const std::uint32_t key = add_key(prefix + std::to_string(i), above);
      if (i == 0)
        first = key;
      else
        set_subkeys(above, b.li({key}), 1);
      above = key;
    }
    return first;
  }
};

class Maker {
 public:
  // A hive made from the base tree; `damage` returns the victim.
  void base(const std::string& name, const std::string& kind, Expect expect,
            const std::function<std::uint32_t(Base&)>& damage) {
    Base base;
    const std::uint32_t victim = damage(base);
    add(name, kind, expect, base.b.image(), victim);
  }
  // Damage that rewrites the finished image (base block, truncation).
  void image(const std::string& name, const std::string& kind, Expect expect,
             const std::function<std::uint32_t(Base&, Bytes&)>& damage) {
    Base base;
    Bytes bytes = base.b.image();
    const std::uint32_t victim = damage(base, bytes);
    add(name, kind, expect, std::move(bytes), victim);
  }

  std::vector<HostileHive> take() { return std::move(hives_); }

 private:
  void add(const std::string& name, const std::string& kind, Expect expect, Bytes bytes,
           std::uint32_t victim) {
    if (!names_.insert(name).second) throw std::logic_error("hostile corpus: duplicate " + name);
    HostileHive h;
    h.name = name;
    h.kind = kind;
    h.image = std::move(bytes);
    h.victim = victim;
    h.sound = expect.sound;
    h.after_edits = expect.edits;
    h.after_delete = expect.remove;
    h.shared_cells = expect.shared;
    hives_.push_back(std::move(h));
  }

  std::vector<HostileHive> hives_;
  std::set<std::string> names_;
};

void put_u32(Bytes& bytes, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes utf16_units(std::initializer_list<std::uint16_t> units) {
  Bytes out;
  for (const std::uint16_t u : units) {
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return out;
}

// A new key below parent whose stored name is exactly these bytes.
std::uint32_t raw_name_key(Base& base, std::uint32_t parent, Bytes name, bool one_byte) {
  NkRecord r;
  r.name = Name{std::move(name), one_byte};
  r.parent = parent;
  r.sk = base.t.sk;
  base.b.patch_u32(base.t.sk, 0x0C, base.b.read_u32(base.t.sk, 0x0C) + 1);
  return base.b.nk(r);
}

void cycles(Maker& m) {
  m.base("list-self", "cycle: the victim's list names the victim", kLocal, [](Base& s) {
    s.set_subkeys(s.victim(), s.b.li({s.v1(), s.victim()}), 2);
    s.orphan(1);
    return s.victim();
  });
  m.base("list-names-root", "cycle: a list below the root names the root", kLocal, [](Base& s) {
    s.set_subkeys(s.victim(), s.b.li({s.v1(), s.t.root}), 2);
    s.orphan(1);
    return s.victim();
  });
  m.base("list-names-sibling", "a list names a key that belongs to another parent", kLocal,
         [](Base& s) {
           s.set_subkeys(s.victim(), s.b.li({s.t.key("Keep"), s.v1()}), 2);
           s.orphan(1);
           return s.victim();
         });
  m.base("list-grandchild-loop", "cycle: a grandchild's list names its grandparent", kLocal,
         [](Base& s) {
           s.set_subkeys(s.v1(), s.b.li({s.victim()}), 1);
           return s.victim();
         });
  m.base("list-dup-500", "one key listed 500 times", kLocal, [](Base& s) {
    s.set_subkeys(s.victim(), s.b.li(std::vector<std::uint32_t>(500, s.v1())), 500);
    s.orphan(1);
    return s.victim();
  });
  m.base("diamond-40", "each of 40 levels lists the next key twice", kLocal, [](Base& s) {
    std::uint32_t above = s.victim();
    std::vector<std::uint32_t> keys;
    for (int i = 0; i < 40; ++i) {
      keys.push_back(s.add_key("D" + std::to_string(i), above));
      above = keys.back();
    }
    s.set_subkeys(s.victim(), s.b.li({keys[0], keys[0]}), 2);
    for (std::size_t i = 0; i + 1 < keys.size(); ++i)
      s.set_subkeys(keys[i], s.b.li({keys[i + 1], keys[i + 1]}), 2);
    s.orphan(2);
    return s.victim();
  });
  m.base("cycle-fanout",
         "two keys both list their parent: the unrolled tree doubles every other level", kLocal,
         [](Base& s) {
           const std::uint32_t a = s.add_key("A", s.victim());
           const std::uint32_t x = s.add_key("X", a);
           const std::uint32_t y = s.add_key("Y", a);
           s.set_subkeys(s.victim(), s.b.li({a}), 1);
           s.set_subkeys(a, s.b.li({x, y}), 2);
           s.set_subkeys(x, s.b.li({a}), 1);
           s.set_subkeys(y, s.b.li({a}), 1);
           s.orphan(2);
           return s.victim();
         });
  m.base("parent-self", "a key is its own parent", kPinned, [](Base& s) {
    s.b.patch_u32(s.victim(), 0x10, s.victim());
    return s.victim();
  });
  m.base("parent-loop-pair", "two siblings name each other as parent", kLasting, [](Base& s) {
    s.b.patch_u32(s.v1(), 0x10, s.v2());
    s.b.patch_u32(s.v2(), 0x10, s.v1());
    return s.victim();
  });
  m.base("parent-cycle-below-root", "a parent chain that loops without reaching the root", kPinned,
         [](Base& s) {
           s.b.patch_u32(s.victim(), 0x10, s.v1());
           return s.victim();
         });
  m.base("parent-junk", "parent fields out of range, in a bin header, on a value", kPinned,
         [](Base& s) {
           s.b.patch_u32(s.victim(), 0x10, 0x7FFFFFF0);
           s.b.patch_u32(s.v1(), 0x10, 0x20);
           s.b.patch_u32(s.v2(), 0x10, s.value("a"));
           return s.victim();
         });
}

void list_tangles(Maker& m) {
  m.base("ri-lh-ri", "an ri names an lh that names the ri, and the ri names itself", kLocal,
         [](Base& s) {
           const std::uint32_t lh = s.b.lh({s.v1(), s.v2(), s.v2()});
           const std::uint32_t ri = s.b.ri({lh, lh});
           s.b.patch_u32(lh, 0x04 + 8, ri);  // the middle entry of the lh
           s.b.patch_u32(ri, 0x08, ri);
           s.set_subkeys(s.victim(), ri, 3);
           return s.victim();
         });
  m.base("ri-self-1000", "an ri naming itself 1000 times", kLocal, [](Base& s) {
    const std::uint32_t ri = s.b.ri(std::vector<std::uint32_t>(1000, 0));
    for (std::uint32_t i = 0; i < 1000; ++i) s.b.patch_u32(ri, 0x04 + 4 * i, ri);
    s.set_subkeys(s.victim(), ri, 1000);
    s.orphan(2);
    return s.victim();
  });
  m.base("ri-nested-6", "six levels of ri above the leaf list", kLocal, [](Base& s) {
    std::uint32_t list = s.b.li({s.v1(), s.v2()});
    for (int i = 0; i < 6; ++i) list = s.b.ri({list});
    s.set_subkeys(s.victim(), list, 2);
    s.orphan(2);
    return s.victim();
  });
  m.base("ri-names-records", "ri entries name a key, a value, an sk record and nothing", kShared,
         [](Base& s) {
           s.set_subkeys(
               s.victim(),
               s.b.ri({s.v1(), s.value("a"), s.t.sk, kNoCell, 0x7FFFFFF0, s.b.li({s.v2()})}), 2);
           return s.victim();
         });
  m.base("li-names-junk", "li entries name a value, sk, the list, a bin header and the base block",
         kLocal, [](Base& s) {
           const std::uint32_t li =
               s.b.li({s.v1(), s.value("a"), s.t.sk, 0, 0, 0x20, 0xFFFFF000u, s.v2()});
           s.b.patch_u32(li, 0x04 + 12, li);
           s.set_subkeys(s.victim(), li, 8);
           return s.victim();
         });
  m.base("list-bad-signature", "subkey lists signed \"lx\" and \"rx\"", kLasting, [](Base& s) {
    s.set_subkeys(s.victim(), s.b.raw_list("lx", 2, {s.v1(), 0, s.v2(), 0}), 2);
    s.set_subkeys(s.t.key("Keep\\Child"), s.b.raw_list("rx", 1, {s.v1()}), 1);
    return s.victim();
  });
}

void counts(Maker& m) {
  m.base("subkey-count-huge", "subkey count 0xFFFFFFFF over a list of two", kLocal, [](Base& s) {
    s.b.patch_u32(s.victim(), 0x14, 0xFFFFFFFF);
    return s.victim();
  });
  m.base("value-count-huge", "value count 0xFFFFFFFF over a list of three", kMended, [](Base& s) {
    s.b.patch_u32(s.victim(), 0x24, 0xFFFFFFFF);
    return s.victim();
  });
  m.base("list-count-huge", "an lf list claiming 0xFFFF entries in a cell of two", kLocal,
         [](Base& s) {
           s.b.patch_u16(s.t.lists.at("Victim"), 0x02, 0xFFFF);
           s.orphan(2);
           return s.victim();
         });
  m.base("nk-name-length-huge", "a key name length of 0xFFFF in a cell of 80 bytes", kLocal,
         [](Base& s) {
           s.b.patch_u16(s.v1(), 0x48, 0xFFFF);
           return s.victim();
         });
  m.base("vk-name-length-huge", "a value name length of 0xFFFF", kLocal, [](Base& s) {
    s.b.patch_u16(s.value("a"), 0x02, 0xFFFF);
    return s.victim();
  });
  m.base("data-length-huge", "data length 0x7FFFFFFF naming a 40-byte cell", kMended, [](Base& s) {
    s.b.patch_u32(s.value("b"), 0x04, 0x7FFFFFFF);
    return s.victim();
  });
}

void big_data(Maker& m) {
  // A value whose length asks for big data, over the given db record.
  auto big_value = [](Base& s, std::uint32_t length, std::uint32_t db) {
    s.b.patch_u32(s.value("b"), 0x04, length);
    s.b.patch_u32(s.value("b"), 0x08, db);
  };
  m.base("db-count-huge", "a db of 0xFFFF segments over a list of two", kMended, [&](Base& s) {
    const std::uint32_t seg = s.b.cell(pattern(100, 7));
    big_value(s, 40000, s.b.db(0xFFFF, s.b.offsets({seg, seg})));
    return s.victim();
  });
  m.base("db-repeated-segment", "65535 segment entries naming one 16 KiB cell, length 2 GiB",
         kMended, [&](Base& s) {
           const std::uint32_t seg = s.b.cell(pattern(16344, 8));
           big_value(s, 0x7FFFFFFF,
                     s.b.db(0xFFFF, s.b.offsets(std::vector<std::uint32_t>(0xFFFF, seg))));
           return s.victim();
         });
  m.base("db-no-list", "a db whose segment list is 0xFFFFFFFF", kMended, [&](Base& s) {
    big_value(s, 40000, s.b.db(3, kNoCell));
    return s.victim();
  });
  m.base("db-segments-loop", "segments naming the db record and the segment list", kMended,
         [&](Base& s) {
           const std::uint32_t list = s.b.offsets({0, 0, 0, 0});
           const std::uint32_t db = s.b.db(4, list);
           for (std::uint32_t i = 0; i < 4; ++i) s.b.patch_u32(list, 4 * i, i % 2 ? list : db);
           big_value(s, 60000, db);
           return s.victim();
         });
  m.base("db-segments-short", "three 10-byte segments for 50000 bytes", kMended, [&](Base& s) {
    const std::uint32_t a = s.b.cell(pattern(10, 1));
    const std::uint32_t b = s.b.cell(pattern(10, 2));
    const std::uint32_t c = s.b.cell(pattern(10, 3));
    big_value(s, 50000, s.b.db(3, s.b.offsets({a, b, c})));
    return s.victim();
  });
  m.base("db-segments-name-keys", "segments naming the victim's own key and the root", kMended,
         [&](Base& s) {
           big_value(s, 20000, s.b.db(2, s.b.offsets({s.victim(), s.t.root})));
           return s.victim();
         });
  m.base("db-is-list", "big data naming the victim's value list instead of a db", kMended,
         [&](Base& s) {
           big_value(s, 20000, s.value_list());
           return s.victim();
         });
}

void cells(Maker& m) {
  m.base("cell-past-bin", "a key cell whose size runs past its bin and the image", kLasting,
         [](Base& s) {
           s.b.set_cell_size(s.v1(), -0x100000);
           return s.victim();
         });
  m.base("cell-size-int-min", "a cell size of 0x80000000", kLasting, [](Base& s) {
    s.b.set_cell_size(s.v2(), static_cast<std::int32_t>(0x80000000u));
    return s.victim();
  });
  m.base("cell-size-tiny", "cells of size 0, 4 and 72 holding a value and keys", kLasting,
         [](Base& s) {
           s.b.set_cell_size(s.value("a"), 0);
           s.b.set_cell_size(s.value("c"), -4);
           s.b.set_cell_size(s.v1(), -72);
           return s.victim();
         });
  m.base("value-list-inside-key", "a value list overlapping the key record", kMended, [](Base& s) {
    s.b.patch_u32(s.victim(), 0x28, s.victim() + 0x10);
    return s.victim();
  });
  m.base(
      "vk-inside-data", "a value record planted inside another value's data", kLocal, [](Base& s) {
        const std::uint32_t inner = s.data_of("b") + 8;
        Bytes vk{'v', 'k', 1, 0, 4, 0, 0, 0x80, 1, 2, 3, 4, 4, 0, 0, 0, 1, 0, 0, 0, 'z', 0, 0, 0};
        s.b.put_cell(inner, -0x20, vk);
        s.b.patch_u32(s.value_list(), 8, inner);
        return s.victim();
      });
  m.base("free-cell-over-keys", "a free cell whose size swallows live key records", kShared,
         [](Base& s) {
           s.b.set_cell_size(s.v1(), 0x200);
           return s.victim();
         });
  m.base(
      "records-in-free-cells", "the victim's key, subkeys, value and value list lie in free cells",
      kSharedInSubtree, [](Base& s) {
        for (const std::uint32_t off : {s.victim(), s.v1(), s.v2(), s.value("a"), s.value_list()}) {
          const auto size = static_cast<std::int32_t>(s.b.read_u32(off - 4, 0));
          s.b.set_cell_size(off, size < 0 ? -size : size);
        }
        return s.victim();
      });
}

void bins(Maker& m) {
  // A second bin with the victim's values in it, for damage to a later bin.
  auto second_bin = [](Base& s) {
    s.b.new_bin();
    const std::uint32_t bin = s.b.cursor() - 32;
    s.b.patch_u32(s.value("b"), 0x08, s.b.cell(pattern(40, 5)));
    return bin;
  };
  m.base("bin-size-zero", "the first bin's size field is 0", kLocked, [](Base& s) {
    s.b.poke_u32(8, 0);
    return s.victim();
  });
  m.base("bin-size-huge", "the first bin claims 0xFFFFF000 bytes", kLocked, [](Base& s) {
    s.b.poke_u32(8, 0xFFFFF000u);
    return s.victim();
  });
  m.base("bin-size-odd", "the first bin claims 0x1010 bytes", kLocked, [](Base& s) {
    s.b.poke_u32(8, 0x1010);
    return s.victim();
  });
  m.base("bin-signature-missing", "the second bin has no \"hbin\"", kLocked, [&](Base& s) {
    s.b.poke_u32(second_bin(s), 0x78696268);  // "hbix"
    return s.victim();
  });
  m.image("bins-size-odd", "base block bins size not a multiple of 4096", kMended,
          [&](Base& s, Bytes& bytes) {
            second_bin(s);
            bytes = s.b.image();
            put_u32(bytes, 0x28, 4096 + 100);
            return s.victim();
          });
  m.image("bins-size-beyond-file", "base block bins size far beyond the file", kMended,
          [](Base& s, Bytes& bytes) {
            put_u32(bytes, 0x28, 0x100000);
            return s.victim();
          });
  m.image("truncated-file", "the file ends in the middle of its second bin", kMended,
          [&](Base& s, Bytes& bytes) {
            second_bin(s);
            bytes = s.b.image();
            bytes.resize(4096 + 4096 + 2000);
            return s.victim();
          });
  m.image("bins-size-zero", "base block bins size 0: no readable root", kLocked,
          [](Base& s, Bytes& bytes) {
            put_u32(bytes, 0x28, 0);
            return s.victim();
          });
}

void names(Maker& m) {
  // Adds raw-named keys below the victim in place of V1 and V2.
  auto named = [](Base& s, std::vector<std::pair<Bytes, bool>> raw) {
    std::vector<std::uint32_t> keys;
    for (auto& [bytes, one_byte] : raw)
      keys.push_back(raw_name_key(s, s.victim(), bytes, one_byte));
    s.orphan(2);  // V1 and V2
    s.set_subkeys(s.victim(), s.b.li(keys), static_cast<std::uint32_t>(keys.size()));
    return s.victim();
  };
  m.base("name-odd-utf16", "UTF-16 key names of odd byte length", kLocal, [&](Base& s) {
    return named(s, {{Bytes{'Z'}, false}, {Bytes{'A', 0, 'B'}, false}});
  });
  m.base("name-lone-surrogates", "key names holding lone high and low surrogates", kSound,
         [&](Base& s) {
           return named(s, {{utf16_units({'a', 0xD800}), false},
                            {utf16_units({'b', 0xDC00, 'c'}), false},
                            {utf16_units({0xDBFF, 0xDBFF}), false}});
         });
  m.base("name-nul-inside", "key names with NUL units decoding to a sibling's name", kSound,
         [&](Base& s) {
           return named(s, {{utf16_units({'A'}), false}, {utf16_units({'A', 0, 'B'}), false}});
         });
  m.base("name-backslash-newline", "key and value names holding \\, CR LF and /", kSound,
         [&](Base& s) {
           s.b.patch_u32(s.value_list(), 0, s.b.value("x\r\ny", 1, utf16le_sz("line break")));
           s.b.patch_u32(s.value_list(), 4, s.b.value("q\"\\", 1, utf16le_sz("quote")));
           return named(s, {{bytes_of("a/b"), true},
                            {bytes_of("a\\b"), true},
                            {bytes_of("line\r\n[-]"), true}});
         });
  m.base("name-latin1-high", "one-byte names with bytes 0x80 to 0xFF", kSound, [&](Base& s) {
    return named(s, {{Bytes{0x80, 0x9F, 0xA0}, true}, {Bytes{0xE9, 0xFF}, true}});
  });
  m.base("name-empty", "a key with an empty name", kLocal, [&](Base& s) {
    return named(s, {{Bytes{}, true}, {bytes_of("x"), true}});
  });
  m.base("name-duplicates", "siblings of one name in two cases, values named a and A", kLocal,
         [&](Base& s) {
           s.b.patch_u32(s.value_list(), 4, s.b.value("A", 4, le32(9)));
           return named(
               s, {{bytes_of("Same"), true}, {bytes_of("same"), true}, {bytes_of("SAME"), true}});
         });
  m.base("value-name-odd", "value names of odd UTF-16 length and lone surrogates", kSound,
         [](Base& s) {
           VkRecord odd;
           odd.name = Name{Bytes{'o', 0, 'd'}, false};
           odd.type = 4;
           odd.data_length = 0x80000004u;
           VkRecord lone;
           lone.name = Name{utf16_units({0xD83D}), false};
           lone.type = 1;
           lone.data_length = 0x80000002u;
           s.b.patch_u32(s.value_list(), 0, s.b.vk(odd));
           s.b.patch_u32(s.value_list(), 4, s.b.vk(lone));
           return s.victim();
         });
  m.base("name-16k", "a key named with 16000 characters", kSound, [&](Base& s) {
    return named(s, {{Bytes(16000, 'n'), true}});
  });
  m.base("string-data-odd",
         "REG_SZ data of odd length with lone surrogates, REG_MULTI_SZ unterminated", kSound,
         [](Base& s) {
           const std::uint32_t sz = s.b.value("sz", 1, Bytes{'a', 0, 0x00, 0xD8, 'b'});
           const std::uint32_t multi = s.b.value("multi", 7, utf16_units({'x', 0, 0xDC00, 'y'}));
           s.b.patch_u32(s.value_list(), 0, sz);
           s.b.patch_u32(s.value_list(), 4, multi);
           return s.victim();
         });
}

void security(Maker& m) {
  m.base("sk-length-huge", "an sk record with a descriptor length of 0xFFFFFFFF", kLasting,
         [](Base& s) {
           s.b.patch_u32(s.t.sk, 0x10, 0xFFFFFFFF);
           return s.victim();
         });
  m.base("sk-links-wrong", "sk links naming a key and nothing, reference count 0", kLasting,
         [](Base& s) {
           s.b.patch_u32(s.t.sk, 0x04, s.victim());
           s.b.patch_u32(s.t.sk, 0x08, kNoCell);
           s.b.patch_u32(s.t.sk, 0x0C, 0);
           return s.victim();
         });
  m.base("sk-off-ring", "the victim's own sk record links only to itself", kLocal, [](Base& s) {
    const std::uint32_t own = s.b.sk(default_security_descriptor(), 1);
    s.b.patch_u32(s.victim(), 0x2C, own);
    s.b.patch_u32(s.t.sk, 0x0C, s.b.read_u32(s.t.sk, 0x0C) - 1);
    return s.victim();
  });
  m.base("sk-offsets-junk", "keys naming a value, nothing and the far end as sk", kLocal,
         [](Base& s) {
           s.b.patch_u32(s.victim(), 0x2C, s.value("a"));
           s.b.patch_u32(s.v1(), 0x2C, kNoCell);
           s.b.patch_u32(s.v2(), 0x2C, 0x7FFFFFF0);
           s.b.patch_u32(s.t.sk, 0x0C, s.b.read_u32(s.t.sk, 0x0C) - 3);
           return s.victim();
         });
  m.base("sk-ring-loops-aside", "the root's sk list runs into a record that links to itself",
         kLasting, [](Base& s) {
           const std::uint32_t other = s.b.sk(default_security_descriptor(), 0);
           s.b.patch_u32(s.t.sk, 0x04, other);
           return s.victim();
         });
  m.base("sk-descriptor-garbage", "an sk record holding a descriptor of junk", kLasting,
         [](Base& s) {
           Bytes junk = pattern(64, 9);
           s.b.patch_bytes(s.t.sk, 0x14, junk);
           return s.victim();
         });
  m.base("root-without-sk", "the root names no sk record", kLasting, [](Base& s) {
    s.b.patch_u32(s.t.root, 0x2C, kNoCell);
    s.b.patch_u32(s.t.sk, 0x0C, s.b.read_u32(s.t.sk, 0x0C) - 1);
    return s.victim();
  });
}

void data_offsets(Maker& m) {
  m.base("data-in-base-block", "a data offset reaching back into the base block", kMended,
         [](Base& s) {
           s.b.patch_u32(s.value("b"), 0x08, 0xFFFFF000u);
           return s.victim();
         });
  m.base("data-at-own-key", "a value's data cell is its own key's record", kMended, [](Base& s) {
    s.b.patch_u32(s.value("b"), 0x08, s.victim());
    return s.victim();
  });
  m.base("data-at-root", "a value's data cell is the root key's record", kMended, [](Base& s) {
    s.b.patch_u32(s.value("b"), 0x08, s.t.root);
    return s.victim();
  });
  m.base("data-at-sibling-list", "a value's data cell is another key's subkey list", kMended,
         [](Base& s) {
           s.b.patch_u32(s.value("b"), 0x04, 8);
           s.b.patch_u32(s.value("b"), 0x08, s.t.lists.at("Keep"));
           return s.victim();
         });
  m.base("value-list-names-keys", "a value list naming the key itself and the root", kLocal,
         [](Base& s) {
           s.b.patch_u32(s.value_list(), 0, s.victim());
           s.b.patch_u32(s.value_list(), 8, s.t.root);
           return s.victim();
         });
  m.base("shared-value-list", "the victim shares Keep's value list", kShared, [](Base& s) {
    s.b.patch_u32(s.victim(), 0x28, s.b.read_u32(s.t.key("Keep"), 0x28));
    s.b.patch_u32(s.victim(), 0x24, 2);
    return s.victim();
  });
  m.base("shared-vk", "a value record listed by two keys", kShared, [](Base& s) {
    s.b.patch_u32(s.value_list(), 0, s.t.value("Keep", "s"));
    return s.victim();
  });
}

void depth(Maker& m) {
  m.base("deep-600", "a chain of 600 keys", kLasting, [](Base& s) {
    s.set_subkeys(s.victim(), s.b.li({s.chain(s.victim(), 600, "L")}), 1);
    return s.victim();
  });
  m.base("deep-300-values", "a chain of 300 keys with values at the bottom", kLasting, [](Base& s) {
    const std::uint32_t first = s.chain(s.victim(), 300, "L");
    s.set_subkeys(s.victim(), s.b.li({first}), 1);
    // The last key of the chain is the last nk written.
    std::uint32_t last = first;
    for (auto subs = s.b.read_u32(last, 0x1C); subs != kNoCell; subs = s.b.read_u32(last, 0x1C))
      last = s.b.read_u32(subs, 0x04);
    s.b.patch_u32(last, 0x24, 1);
    s.b.patch_u32(last, 0x28, s.b.offsets({s.b.value("bottom", 1, utf16le_sz("deep"))}));
    s.b.patch_u32(last, 0x3C, 12);
    s.b.patch_u32(last, 0x40, 10);
    return s.victim();
  });
}

void roots(Maker& m) {
  m.image("root-out-of-range", "the root cell offset lies past the image", kLocked,
          [](Base&, Bytes& bytes) {
            put_u32(bytes, 0x24, 0x7FFFFFF0);
            return kNoCell;
          });
  m.image("root-is-value", "the root cell offset names a value record", kLocked,
          [](Base& s, Bytes& bytes) {
            put_u32(bytes, 0x24, s.value("a"));
            return kNoCell;
          });
  m.base("root-cell-too-small", "the root's cell is 72 bytes: not a key", kPinned, [](Base& s) {
    s.b.set_cell_size(s.t.root, -72);
    return s.victim();
  });
  m.base("root-parent-child", "the root's parent field names one of its subkeys", kSound,
         [](Base& s) {
           s.b.patch_u32(s.t.root, 0x10, s.victim());
           return s.victim();
         });
  m.base("root-lists-itself", "the root's own list names the root", kLasting, [](Base& s) {
    const std::uint32_t list = s.b.li({s.t.key("Keep"), s.t.root, s.victim()});
    s.set_subkeys(s.t.root, list, 3);
    return s.victim();
  });
}

void controls(Maker& m) {
  m.base("control-base", "the sound base tree", kSound, [](Base& s) { return s.victim(); });
  m.base("control-layouts", "lf, lh, li and ri lists, big data, UTF-16 and Latin-1 names", kSound,
         [](Base& s) {
           KeySpec lh = key("Lh", {key("one"), key("two"), key("three")});
           lh.list = ListKind::lh;
           KeySpec ri = key("Ri", {key("k1"), key("k2"), key("k3"), key("k4"), key("k5")});
           ri.list = ListKind::ri;
           ri.ri_parts = {{ListKind::lf, 2}, {ListKind::li, 1}, {ListKind::lh, 2}};
           KeySpec latin = key("Caf\xC3\xA9", {}, {val("\xC3\xBF", 3, pattern(7, 4))});
           latin.form = NameForm::Latin1;
           KeySpec extra =
               key("Victim", {lh, ri, latin, key("Z\xC3\xBCrich", {key("\xE6\x9D\xB1\xE4\xBA\xAC")})},
                 {val("big", 3, pattern(40000, 2)), val("multi", 7, multi_sz({"a", "b"}))});
           HiveBuilder fresh;
           const BuiltTree t = fresh.tree(key("ROOT", {key("Keep"), extra}));
           s.b = std::move(fresh);
           s.t = t;
           return s.victim();
         });
}

}  // namespace

const std::vector<HostileHive>& hostile_corpus() {
  static const std::vector<HostileHive> corpus = [] {
    Maker m;
    controls(m);
    cycles(m);
    list_tangles(m);
    counts(m);
    big_data(m);
    cells(m);
    bins(m);
    names(m);
    security(m);
    data_offsets(m);
    depth(m);
    roots(m);
    return m.take();
  }();
  return corpus;
}

const HostileHive& hostile_hive(const std::string& name) {
  for (const auto& hive : hostile_corpus())
    if (hive.name == name) return hive;
  throw std::out_of_range("no hostile hive named " + name);
}

}  // namespace tol::test
