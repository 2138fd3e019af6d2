// Security descriptors: decoding the self-relative bytes, the SDDL text form
// both ways, and storing a descriptor written as SDDL.
#include "hive/sddl.h"

#include <glib/gi18n-lib.h>

#include <cstdarg>
#include <cstdio>

#include "hive/bytes.h"
#include "hive/errors.h"
#include "hive/security.h"

G_DEFINE_QUARK(tol-sddl-error-quark, tol_sddl_error)

namespace {

constexpr std::size_t kHeader = 20;
constexpr std::size_t kMaxSubAuthorities = 15;
constexpr std::uint8_t kAclRevision = 2;
constexpr std::uint8_t kAclRevisionDs = 4;  // needed by object ACEs
constexpr std::uint32_t kObjectTypePresent = 0x1;
constexpr std::uint32_t kInheritedObjectTypePresent = 0x2;

constexpr std::uint32_t kKeyAllAccess = 0x000F003F;
constexpr std::uint32_t kKeyRead = 0x00020019;
constexpr std::uint32_t kKeyWrite = 0x00020006;
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint32_t kGenericExecute = 0x20000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kGenericRead = 0x80000000;

// Well-known SIDs: SDDL's aliases that stand for one fixed SID, and the
// unaliased ones registry keys carry.
constexpr TolWellKnownSid kWellKnown[] = {
    {"S-1-0-0", nullptr, "NULL SID"},
    {"S-1-1-0", "WD", "Everyone"},
    {"S-1-2-0", nullptr, "LOCAL"},
    {"S-1-3-0", "CO", "CREATOR OWNER"},
    {"S-1-3-1", "CG", "CREATOR GROUP"},
    {"S-1-3-4", "OW", "OWNER RIGHTS"},
    {"S-1-5-2", "NU", "NT AUTHORITY\\NETWORK"},
    {"S-1-5-3", nullptr, "NT AUTHORITY\\BATCH"},
    {"S-1-5-4", "IU", "NT AUTHORITY\\INTERACTIVE"},
    {"S-1-5-6", "SU", "NT AUTHORITY\\SERVICE"},
    {"S-1-5-7", "AN", "NT AUTHORITY\\ANONYMOUS LOGON"},
    {"S-1-5-9", "ED", "NT AUTHORITY\\ENTERPRISE DOMAIN CONTROLLERS"},
    {"S-1-5-10", "PS", "NT AUTHORITY\\SELF"},
    {"S-1-5-11", "AU", "NT AUTHORITY\\Authenticated Users"},
    {"S-1-5-12", "RC", "NT AUTHORITY\\RESTRICTED"},
    {"S-1-5-18", "SY", "NT AUTHORITY\\SYSTEM"},
    {"S-1-5-19", "LS", "NT AUTHORITY\\LOCAL SERVICE"},
    {"S-1-5-20", "NS", "NT AUTHORITY\\NETWORK SERVICE"},
    {"S-1-5-33", "WR", "NT AUTHORITY\\WRITE RESTRICTED"},
    {"S-1-5-32-544", "BA", "BUILTIN\\Administrators"},
    {"S-1-5-32-545", "BU", "BUILTIN\\Users"},
    {"S-1-5-32-546", "BG", "BUILTIN\\Guests"},
    {"S-1-5-32-547", "PU", "BUILTIN\\Power Users"},
    {"S-1-5-32-548", "AO", "BUILTIN\\Account Operators"},
    {"S-1-5-32-549", "SO", "BUILTIN\\Server Operators"},
    {"S-1-5-32-550", "PO", "BUILTIN\\Print Operators"},
    {"S-1-5-32-551", "BO", "BUILTIN\\Backup Operators"},
    {"S-1-5-32-552", "RE", "BUILTIN\\Replicator"},
    {"S-1-5-32-554", "RU", "BUILTIN\\Pre-Windows 2000 Compatible Access"},
    {"S-1-5-32-555", "RD", "BUILTIN\\Remote Desktop Users"},
    {"S-1-5-32-556", "NO", "BUILTIN\\Network Configuration Operators"},
    {"S-1-5-32-558", "MU", "BUILTIN\\Performance Monitor Users"},
    {"S-1-5-32-559", "LU", "BUILTIN\\Performance Log Users"},
    {"S-1-5-32-568", "IS", "BUILTIN\\IIS_IUSRS"},
    {"S-1-5-32-569", "CY", "BUILTIN\\Cryptographic Operators"},
    {"S-1-5-32-573", "ER", "BUILTIN\\Event Log Readers"},
    {"S-1-5-32-574", "CD", "BUILTIN\\Certificate Service DCOM Access"},
    {"S-1-5-32-575", "RA", "BUILTIN\\RDS Remote Access Servers"},
    {"S-1-5-32-576", "ES", "BUILTIN\\RDS Endpoint Servers"},
    {"S-1-5-32-577", "MS", "BUILTIN\\RDS Management Servers"},
    {"S-1-5-32-578", "HA", "BUILTIN\\Hyper-V Administrators"},
    {"S-1-5-32-579", "AA", "BUILTIN\\Access Control Assistance Operators"},
    {"S-1-5-32-580", "RM", "BUILTIN\\Remote Management Users"},
    {"S-1-5-80-0", nullptr, "NT SERVICE\\ALL SERVICES"},
    {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", nullptr,
     "NT SERVICE\\TrustedInstaller"},
    {"S-1-5-84-0-0-0-0-0", "UD", "USER MODE DRIVERS"},
    {"S-1-15-2-1", "AC", "APPLICATION PACKAGE AUTHORITY\\ALL APPLICATION PACKAGES"},
    {"S-1-15-2-2", nullptr, "APPLICATION PACKAGE AUTHORITY\\ALL RESTRICTED APPLICATION PACKAGES"},
    {"S-1-16-4096", "LW", "Mandatory Label\\Low Mandatory Level"},
    {"S-1-16-8192", "ME", "Mandatory Label\\Medium Mandatory Level"},
    {"S-1-16-8448", "MP", "Mandatory Label\\Medium Plus Mandatory Level"},
    {"S-1-16-12288", "HI", "Mandatory Label\\High Mandatory Level"},
    {"S-1-16-16384", "SI", "Mandatory Label\\System Mandatory Level"},
    {"S-1-18-1", "AS", "Authentication authority asserted identity"},
    {"S-1-18-2", "SS", "Service asserted identity"},
};

struct AceType {
  std::uint8_t type;
  const char* sddl;  // null: SDDL has no letters for it
  const char* name;
  bool object;       // the object layout: mask, flags, GUIDs, SID
  bool data;         // bytes behind the SID mean something (callback, attribute)
};

constexpr AceType kAceTypes[] = {
    {0x00, "A", "Allow", false, false},
    {0x01, "D", "Deny", false, false},
    {0x02, "AU", "Audit", false, false},
    {0x03, "AL", "Alarm", false, false},
    {0x05, "OA", "Allow (object)", true, false},
    {0x06, "OD", "Deny (object)", true, false},
    {0x07, "OU", "Audit (object)", true, false},
    {0x08, "OL", "Alarm (object)", true, false},
    {0x09, "XA", "Allow (callback)", false, true},
    {0x0A, "XD", "Deny (callback)", false, true},
    {0x0B, "ZA", "Allow (callback, object)", true, true},
    {0x0C, nullptr, "Deny (callback, object)", true, true},
    {0x0D, "XU", "Audit (callback)", false, true},
    {0x0E, nullptr, "Alarm (callback)", false, true},
    {0x0F, nullptr, "Audit (callback, object)", true, true},
    {0x10, nullptr, "Alarm (callback, object)", true, true},
    {0x11, "ML", "Mandatory label", false, false},
    {0x12, "RA", "Resource attribute", false, true},
    {0x13, "SP", "Scoped policy", false, false},
};

const AceType* ace_type(std::uint8_t type) {
  for (const AceType& t : kAceTypes)
    if (t.type == type) return &t;
  return nullptr;
}

struct Token {
  const char* text;
  std::uint32_t bits;
};

// Letters of ACE flags, in bit order (the order they print in).
constexpr Token kAceFlags[] = {
    {"OI", 0x01}, {"CI", 0x02}, {"NP", 0x04}, {"IO", 0x08},
    {"ID", 0x10}, {"CR", 0x20}, {"SA", 0x40}, {"FA", 0x80},
};

// Letters of access rights SDDL parsing knows.
constexpr Token kRights[] = {
    {"GA", kGenericAll}, {"GR", kGenericRead}, {"GW", kGenericWrite}, {"GX", kGenericExecute},
    {"SD", 0x00010000},  {"RC", 0x00020000},   {"WD", 0x00040000},    {"WO", 0x00080000},
    {"KA", kKeyAllAccess}, {"KR", kKeyRead},   {"KW", kKeyWrite},     {"KX", kKeyRead},
    {"FA", 0x001F01FF},  {"FR", 0x00120089},   {"FW", 0x00120116},    {"FX", 0x001200A0},
    {"CC", 0x00000001},  {"DC", 0x00000002},   {"LC", 0x00000004},    {"SW", 0x00000008},
    {"RP", 0x00000010},  {"WP", 0x00000020},   {"DT", 0x00000040},    {"LO", 0x00000080},
    {"CR", 0x00000100},
};
// Single letters the canonical form builds masks from, in printing order.
constexpr Token kLetterRights[] = {
    {"GA", kGenericAll}, {"GR", kGenericRead}, {"GW", kGenericWrite}, {"GX", kGenericExecute},
    {"SD", 0x00010000},  {"RC", 0x00020000},   {"WD", 0x00040000},    {"WO", 0x00080000},
};
// Mandatory label policy bits.
constexpr Token kLabelRights[] = {{"NW", 0x1}, {"NR", 0x2}, {"NX", 0x4}};

std::string hex32(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

// --- Decoding ---------------------------------------------------------------------

class Decoder {
 public:
  Decoder(std::span<const std::uint8_t> bytes, GError** error, std::size_t* where)
      : sd_(bytes), error_(error), where_(where) {}

  std::optional<TolSecurityDescriptor> run() {
    TolSecurityDescriptor sd;
    if (sd_.size() < kHeader)
      return fail(0, "%zu bytes, fewer than the 20 of a descriptor's header", sd_.size());
    sd.revision = sd_.u8(0);
    if (sd.revision != 1) return fail(0, "revision %u (only revision 1 exists)", sd.revision);
    sd.resource_manager_control = sd_.u8(1);
    sd.control = sd_.u16(2);
    if ((sd.control & TOL_SD_SELF_RELATIVE) == 0)
      return fail(2, "the control flags lack \"self-relative\": the offsets mean nothing");
    if (!part_sid(4, "owner", sd.owner) || !part_sid(8, "group", sd.group)) return std::nullopt;
    if (!part_acl(12, TOL_SD_SACL_PRESENT, "SACL", sd.sacl) ||
        !part_acl(16, TOL_SD_DACL_PRESENT, "DACL", sd.dacl))
      return std::nullopt;
    return sd;
  }

 private:
  std::nullopt_t fail(std::size_t off, const char* format, ...) G_GNUC_PRINTF(3, 4) {
    if (error_ && !*error_) {
      va_list args;
      va_start(args, format);
      gchar* what = g_strdup_vprintf(format, args);
      va_end(args);
      g_set_error(error_, TOL_SDDL_ERROR, TOL_SDDL_ERROR_DECODE,
                  "security descriptor offset %zu: %s", off, what);
      g_free(what);
    }
    if (where_) *where_ = off;
    return std::nullopt;
  }

  // The offset in a header field: 0 for none; fails when it points into the
  // header or past the end.
  std::optional<std::size_t> part_offset(std::size_t field, const char* what) {
    const std::uint32_t off = sd_.u32(field);
    if (off == 0) return 0;
    if (off < kHeader) {
      fail(field, "the %s's offset %u points into the header", what, off);
      return std::nullopt;
    }
    if (off >= sd_.size()) {
      fail(field, "the %s's offset %u lies past the end (%zu bytes)", what, off, sd_.size());
      return std::nullopt;
    }
    return off;
  }

  bool part_sid(std::size_t field, const char* what, std::optional<TolSid>& out) {
    const auto off = part_offset(field, what);
    if (!off) return false;
    if (*off == 0) return true;
    TolSid sid;
    if (!sid_at(*off, sd_.size(), what, sid)) return false;
    out = std::move(sid);
    return true;
  }

  bool part_acl(std::size_t field, std::uint16_t present_bit, const char* what, TolAcl& acl) {
    if ((sd_.u16(2) & present_bit) == 0) return true;  // absent: its offset is ignored
    const auto off = part_offset(field, what);
    if (!off) return false;
    if (*off == 0) {
      acl.state = TolAclState::null_acl;
      return true;
    }
    acl.state = TolAclState::present;
    return acl_at(*off, what, acl);
  }

  // A SID at `off` that must end by `end`.
  bool sid_at(std::size_t off, std::size_t end, const char* what, TolSid& sid) {
    if (off + 8 > end) return fail(off, "the %s SID runs past its end", what), false;
    sid.revision = sd_.u8(off);
    if (sid.revision != 1) return fail(off, "the %s SID has revision %u", what, sid.revision), false;
    const std::size_t count = sd_.u8(off + 1);
    if (count > kMaxSubAuthorities)
      return fail(off + 1, "the %s SID has %zu sub-authorities (at most 15)", what, count), false;
    if (off + 8 + 4 * count > end)
      return fail(off + 1, "the %s SID's %zu sub-authorities run past its end", what, count), false;
    sid.authority = 0;
    for (std::size_t i = 2; i < 8; ++i) sid.authority = (sid.authority << 8) | sd_.u8(off + i);
    sid.sub_authorities.clear();
    for (std::size_t i = 0; i < count; ++i) sid.sub_authorities.push_back(sd_.u32(off + 8 + 4 * i));
    return true;
  }

  bool acl_at(std::size_t off, const char* what, TolAcl& acl) {
    if (off + 8 > sd_.size()) return fail(off, "the %s header runs past the end", what), false;
    acl.revision = sd_.u8(off);
    if (acl.revision < 2 || acl.revision > 4)
      return fail(off, "the %s has revision %u (2 to 4 exist)", what, acl.revision), false;
    const std::size_t size = sd_.u16(off + 2);
    const std::size_t count = sd_.u16(off + 4);
    if (size < 8) return fail(off + 2, "the %s's size %zu is below its 8-byte header", what, size), false;
    if (off + size > sd_.size())
      return fail(off + 2, "the %s's size %zu runs past the end (%zu bytes)", what, size, sd_.size()),
             false;
    const std::size_t end = off + size;
    std::size_t p = off + 8;
    for (std::size_t i = 0; i < count; ++i) {
      if (p + 4 > end)
        return fail(p, "ACE %zu of the %s's %zu lies past the end of the ACL", i + 1, what, count),
               false;
      const std::size_t ace_size = sd_.u16(p + 2);
      if (ace_size < 8)
        return fail(p + 2, "ACE %zu of the %s has size %zu", i + 1, what, ace_size), false;
      if (p + ace_size > end)
        return fail(p + 2, "ACE %zu of the %s (%zu bytes) runs past the end of the ACL", i + 1, what,
                    ace_size),
               false;
      TolAce ace;
      if (!ace_at(p, p + ace_size, what, ace)) return false;
      acl.aces.push_back(std::move(ace));
      p += ace_size;
    }
    return true;
  }

  bool ace_at(std::size_t p, std::size_t end, const char* what, TolAce& ace) {
    ace.type = sd_.u8(p);
    ace.flags = sd_.u8(p + 1);
    const AceType* type = ace_type(ace.type);
    const auto rest = [&](std::size_t from) {
      const auto bytes = sd_.sub(from, end - from).span();
      return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    };
    if (!type) {
      ace.known = false;
      ace.trailing = rest(p + 4);
      return true;
    }
    ace.mask = sd_.u32(p + 4);
    std::size_t at = p + 8;
    if (type->object) {
      if (at + 4 > end) return fail(at, "an object ACE of the %s has no room for its flags", what), false;
      ace.object_flags = sd_.u32(at);
      at += 4;
      for (const auto& [bit, slot] : {std::pair{kObjectTypePresent, &ace.object_type},
                                      std::pair{kInheritedObjectTypePresent, &ace.inherited_object_type}}) {
        if ((ace.object_flags & bit) == 0) continue;
        if (at + 16 > end) return fail(at, "a GUID of an object ACE of the %s runs past it", what), false;
        TolGuid guid{};
        for (std::size_t i = 0; i < 16; ++i) guid[i] = sd_.u8(at + i);
        *slot = guid;
        at += 16;
      }
    }
    if (!sid_at(at, end, "ACE's", ace.sid)) return false;
    ace.trailing = rest(at + 8 + 4 * ace.sid.sub_authorities.size());
    return true;
  }

  tol::ByteView sd_;
  GError** error_;
  std::size_t* where_;
};

// --- Encoding ---------------------------------------------------------------------

void put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void set32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put_sid(std::vector<std::uint8_t>& b, const TolSid& sid) {
  b.push_back(sid.revision);
  b.push_back(static_cast<std::uint8_t>(sid.sub_authorities.size()));
  for (int shift = 40; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(sid.authority >> shift));
  for (const std::uint32_t s : sid.sub_authorities) put32(b, s);
}

bool put_acl(std::vector<std::uint8_t>& b, const TolAcl& acl, const char* what, GError** error) {
  const std::size_t start = b.size();
  b.push_back(acl.revision);
  b.push_back(0);
  put16(b, 0);  // size, below
  if (acl.aces.size() > 0xFFFF) {
    g_set_error(error, TOL_SDDL_ERROR, TOL_SDDL_ERROR_TOO_LARGE, _("the %s holds more than 65535 ACEs"), what);
    return false;
  }
  put16(b, static_cast<std::uint16_t>(acl.aces.size()));
  put16(b, 0);
  for (const TolAce& ace : acl.aces) {
    const std::size_t at = b.size();
    b.push_back(ace.type);
    b.push_back(ace.flags);
    put16(b, 0);
    if (ace.known) {
      put32(b, ace.mask);
      if (tol_ace_type_is_object(ace.type)) {
        put32(b, ace.object_flags);
        for (const auto& guid : {ace.object_type, ace.inherited_object_type})
          if (guid) b.insert(b.end(), guid->begin(), guid->end());
      }
      put_sid(b, ace.sid);
    }
    b.insert(b.end(), ace.trailing.begin(), ace.trailing.end());
    const std::size_t size = b.size() - at;
    if (size > 0xFFFF) {
      g_set_error(error, TOL_SDDL_ERROR, TOL_SDDL_ERROR_TOO_LARGE, _("an ACE of the %s is longer than 65535 bytes"), what);
      return false;
    }
    b[at + 2] = static_cast<std::uint8_t>(size);
    b[at + 3] = static_cast<std::uint8_t>(size >> 8);
  }
  const std::size_t size = b.size() - start;
  if (size > 0xFFFF) {
    g_set_error(error, TOL_SDDL_ERROR, TOL_SDDL_ERROR_TOO_LARGE, _("the %s is longer than 65535 bytes"), what);
    return false;
  }
  b[start + 2] = static_cast<std::uint8_t>(size);
  b[start + 3] = static_cast<std::uint8_t>(size >> 8);
  return true;
}

// --- Printing ---------------------------------------------------------------------

std::string sid_sddl(const TolSid& sid) {
  const TolWellKnownSid* known = tol_sid_well_known(sid);
  return known && known->alias ? known->alias : tol_sid_string(sid);
}

std::string rights_sddl(const TolAce& ace) {
  const std::uint32_t mask = ace.mask;
  if (ace.type == TOL_ACE_SYSTEM_MANDATORY_LABEL && mask != 0 && (mask & ~0x7u) == 0) {
    std::string out;
    for (const Token& t : kLabelRights)
      if ((mask & t.bits) != 0) out += t.text;
    return out;
  }
  for (const Token& t : {Token{"KA", kKeyAllAccess}, Token{"KR", kKeyRead}, Token{"KW", kKeyWrite},
                         Token{"GA", kGenericAll}, Token{"GR", kGenericRead},
                         Token{"GW", kGenericWrite}, Token{"GX", kGenericExecute}})
    if (mask == t.bits) return t.text;
  std::uint32_t letters = 0;
  for (const Token& t : kLetterRights) letters |= t.bits;
  if (mask != 0 && (mask & ~letters) == 0) {
    std::string out;
    for (const Token& t : kLetterRights)
      if ((mask & t.bits) != 0) out += t.text;
    return out;
  }
  return hex32(mask);
}

bool print_acl(std::string& out, const TolAcl& acl, std::uint16_t control, bool dacl,
               GError** error) {
  const char* what = dacl ? "DACL" : "SACL";
  out += dacl ? "D:" : "S:";
  if ((control & (dacl ? TOL_SD_DACL_PROTECTED : TOL_SD_SACL_PROTECTED)) != 0) out += 'P';
  if ((control & (dacl ? TOL_SD_DACL_AUTO_INHERIT_REQ : TOL_SD_SACL_AUTO_INHERIT_REQ)) != 0) out += "AR";
  if ((control & (dacl ? TOL_SD_DACL_AUTO_INHERITED : TOL_SD_SACL_AUTO_INHERITED)) != 0) out += "AI";
  if (acl.state == TolAclState::null_acl) {
    out += "NO_ACCESS_CONTROL";
    return true;
  }
  for (std::size_t i = 0; i < acl.aces.size(); ++i) {
    const TolAce& ace = acl.aces[i];
    const AceType* type = ace_type(ace.type);
    if (!ace.known || !type || !type->sddl) {
      g_set_error(error, TOL_SDDL_ERROR, TOL_SDDL_ERROR_UNPRINTABLE,
                  _("ACE %zu of the %s has type 0x%02x, which SDDL has no letters for"), i + 1,
                  what, ace.type);
      return false;
    }
    if (type->data && !ace.trailing.empty()) {
      g_set_error(error, TOL_SDDL_ERROR, TOL_SDDL_ERROR_UNPRINTABLE,
                  _("ACE %zu of the %s carries %zu bytes of conditions or attributes, which are "
                    "not written as SDDL here"),
                  i + 1, what, ace.trailing.size());
      return false;
    }
    out += '(';
    out += type->sddl;
    out += ';';
    for (const Token& t : kAceFlags)
      if ((ace.flags & t.bits) != 0) out += t.text;
    out += ';';
    out += rights_sddl(ace);
    out += ';';
    if (ace.object_type) out += tol_guid_string(*ace.object_type);
    out += ';';
    if (ace.inherited_object_type) out += tol_guid_string(*ace.inherited_object_type);
    out += ';';
    out += sid_sddl(ace.sid);
    out += ')';
  }
  return true;
}

// --- Parsing ----------------------------------------------------------------------

class Parser {
 public:
  Parser(std::string_view text, GError** error, std::size_t* where)
      : text_(text), error_(error), where_(where) {}

  std::optional<TolSecurityDescriptor> run() {
    TolSecurityDescriptor sd;
    bool seen[4] = {false, false, false, false};
    while (pos_ < text_.size()) {
      static constexpr const char* kParts[] = {"O:", "G:", "D:", "S:"};
      int part = -1;
      for (int i = 0; i < 4; ++i)
        if (starts(kParts[i])) part = i;
      if (part < 0) return expected("\"O:\", \"G:\", \"D:\" or \"S:\""), std::nullopt;
      if (seen[part]) return fail(pos_, std::string(kParts[part]) + " is given twice"), std::nullopt;
      seen[part] = true;
      pos_ += 2;
      bool ok = false;
      switch (part) {
        case 0: ok = sid(sd.owner.emplace()); break;
        case 1: ok = sid(sd.group.emplace()); break;
        case 2: ok = acl(sd, true); break;
        default: ok = acl(sd, false); break;
      }
      if (!ok) return std::nullopt;
    }
    return sd;
  }

 private:
  bool fail(std::size_t at, const std::string& message) {
    if (error_ && !*error_)
      g_set_error(error_, TOL_SDDL_ERROR, TOL_SDDL_ERROR_PARSE, "SDDL position %zu: %s", at,
                  message.c_str());
    if (where_) *where_ = at;
    return false;
  }
  bool expected(const std::string& what) { return fail(pos_, "expected " + what); }

  bool starts(std::string_view s) const { return text_.substr(pos_).substr(0, s.size()) == s; }
  char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  bool is_digit(char c) const { return c >= '0' && c <= '9'; }
  bool is_upper(char c) const { return c >= 'A' && c <= 'Z'; }

  bool literal(char c) {
    if (peek() != c) return expected(std::string("\"") + c + "\"");
    ++pos_;
    return true;
  }

  // Decimal digits, or hex after "0x" when `hex_ok`, up to `max`. Hex reads
  // at most `hex_digits` digits: a SID's authority is written with 12, and a
  // "D:" may follow it at once.
  bool number(std::uint64_t max, bool hex_ok, std::uint64_t& out, std::size_t hex_digits = 16) {
    const std::size_t start = pos_;
    const bool hex = hex_ok && (starts("0x") || starts("0X"));
    if (hex) pos_ += 2;
    std::uint64_t v = 0;
    std::size_t n = 0;
    for (; pos_ < text_.size() && !(hex && n == hex_digits); ++pos_, ++n) {
      const char c = text_[pos_];
      unsigned digit = 0;
      if (is_digit(c)) digit = static_cast<unsigned>(c - '0');
      else if (hex && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
      else if (hex && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
      else break;
      v = v * (hex ? 16 : 10) + digit;
      if (v > max) return fail(start, "the number is larger than " + std::to_string(max));
    }
    if (n == 0) return expected(hex ? "hex digits" : "a number");
    out = v;
    return true;
  }

  bool sid(TolSid& out) {
    const std::size_t start = pos_;
    if (starts("S-")) {
      pos_ += 2;
      std::uint64_t v = 0;
      if (!number(0xFF, false, v)) return false;
      if (v != 1) return fail(start + 2, "SID revision " + std::to_string(v) + " (only 1 exists)");
      out.revision = 1;
      if (!literal('-') || !number(0xFFFFFFFFFFFFull, true, out.authority, 12)) return false;
      out.sub_authorities.clear();
      while (peek() == '-') {
        if (out.sub_authorities.size() == kMaxSubAuthorities)
          return fail(pos_, "a SID holds at most 15 sub-authorities");
        ++pos_;
        if (!number(0xFFFFFFFFu, false, v)) return false;
        out.sub_authorities.push_back(static_cast<std::uint32_t>(v));
      }
      return true;
    }
    if (pos_ + 2 > text_.size() || !is_upper(text_[pos_]) || !is_upper(text_[pos_ + 1]))
      return expected("a SID (S-1-...) or a SID alias such as \"BA\"");
    const std::string alias(text_.substr(pos_, 2));
    for (const TolWellKnownSid& w : kWellKnown) {
      if (!w.alias || alias != w.alias) continue;
      out = *tol_sid_parse(w.sid);
      pos_ += 2;
      return true;
    }
    return fail(start, "unknown SID alias \"" + alias +
                           "\" (aliases that need a domain or machine SID are not supported)");
  }

  bool acl(TolSecurityDescriptor& sd, bool dacl) {
    TolAcl& acl = dacl ? sd.dacl : sd.sacl;
    acl.state = TolAclState::present;
    for (;;) {
      if (starts("NO_ACCESS_CONTROL")) {
        acl.state = TolAclState::null_acl;
        pos_ += 17;
      } else if (starts("P")) {
        sd.control |= dacl ? TOL_SD_DACL_PROTECTED : TOL_SD_SACL_PROTECTED;
        pos_ += 1;
      } else if (starts("AI")) {
        sd.control |= dacl ? TOL_SD_DACL_AUTO_INHERITED : TOL_SD_SACL_AUTO_INHERITED;
        pos_ += 2;
      } else if (starts("AR")) {
        sd.control |= dacl ? TOL_SD_DACL_AUTO_INHERIT_REQ : TOL_SD_SACL_AUTO_INHERIT_REQ;
        pos_ += 2;
      } else {
        break;
      }
    }
    sd.control |= dacl ? TOL_SD_DACL_PRESENT : TOL_SD_SACL_PRESENT;
    if (acl.state == TolAclState::null_acl) {
      if (peek() == '(') return fail(pos_, "a NULL ACL (NO_ACCESS_CONTROL) holds no ACEs");
    } else {
      while (peek() == '(') {
        if (acl.aces.size() == 0xFFFF) return fail(pos_, "an ACL holds at most 65535 ACEs");
        if (!ace(acl.aces.emplace_back())) return false;
      }
    }
    if (pos_ < text_.size() && !starts("O:") && !starts("G:") && !starts("D:") && !starts("S:"))
      return expected(acl.state == TolAclState::null_acl ? "\"O:\", \"G:\", \"D:\" or \"S:\""
                                                         : "\"(\", \"O:\", \"G:\", \"D:\" or \"S:\"");
    bool object = false;
    for (const TolAce& a : acl.aces) object = object || tol_ace_type_is_object(a.type);
    acl.revision = object ? kAclRevisionDs : kAclRevision;
    return true;
  }

  // The letters up to the next ';' or ')'.
  std::string_view field() const {
    const std::size_t end = text_.find_first_of(";)", pos_);
    return text_.substr(pos_, (end == std::string_view::npos ? text_.size() : end) - pos_);
  }

  bool ace(TolAce& ace) {
    ++pos_;  // '('
    const std::string_view type_text = field();
    const AceType* type = nullptr;
    for (const AceType& t : kAceTypes)
      if (t.sddl && type_text == t.sddl) type = &t;
    if (!type)
      return type_text.empty() ? expected("an ACE type such as \"A\" or \"D\"")
                               : fail(pos_, "unknown ACE type \"" + std::string(type_text) + "\"");
    ace.type = type->type;
    pos_ += type_text.size();
    if (!literal(';')) return false;

    while (peek() != ';' && peek() != ')' && pos_ < text_.size()) {
      const std::string_view two = text_.substr(pos_, 2);
      std::uint32_t bits = two == "TP" ? 0x40 : 0;
      for (const Token& t : kAceFlags)
        if (two == t.text) bits = t.bits;
      if (bits == 0) return expected("ACE flags (OI, CI, NP, IO, ID, CR, SA, FA) or \";\"");
      ace.flags = static_cast<std::uint8_t>(ace.flags | bits);
      pos_ += 2;
    }
    if (!literal(';') || !rights(ace)) return false;
    if (!literal(';') || !guid(type->object, ace.object_type)) return false;
    if (!literal(';') || !guid(type->object, ace.inherited_object_type)) return false;
    if (ace.object_type) ace.object_flags |= kObjectTypePresent;
    if (ace.inherited_object_type) ace.object_flags |= kInheritedObjectTypePresent;
    if (!literal(';') || !sid(ace.sid)) return false;
    if (peek() == ';')
      return fail(pos_, "expected \")\" (conditional expressions and resource attributes are not "
                        "supported)");
    return literal(')');
  }

  bool rights(TolAce& ace) {
    if (is_digit(peek())) {
      std::uint64_t v = 0;
      if (!number(0xFFFFFFFFu, true, v)) return false;
      ace.mask = static_cast<std::uint32_t>(v);
      return true;
    }
    const bool label = ace.type == TOL_ACE_SYSTEM_MANDATORY_LABEL;
    while (peek() != ';' && pos_ < text_.size()) {
      const std::string_view two = text_.substr(pos_, 2);
      std::uint32_t bits = 0;
      bool found = false;
      for (const Token& t : kRights)
        if (two == t.text) bits = t.bits, found = true;
      if (label)
        for (const Token& t : kLabelRights)
          if (two == t.text) bits = t.bits, found = true;
      if (!found) return expected("access rights (KA, KR, GA, RC, ... or a 0x number) or \";\"");
      ace.mask |= bits;
      pos_ += 2;
    }
    return true;
  }

  bool guid(bool allowed, std::optional<TolGuid>& out) {
    if (peek() == ';') return true;
    if (!allowed) return expected("\";\" (only object ACE types carry GUIDs)");
    // 8-4-4-4-12 hex digits; Data1..Data3 are stored little-endian.
    static constexpr int kGroups[] = {8, 4, 4, 4, 12};
    const char* const form = "expected a GUID such as 01234567-89ab-cdef-0123-456789abcdef";
    std::uint8_t raw[16] = {};
    std::size_t n = 0;
    const std::size_t start = pos_;
    for (int g = 0; g < 5; ++g) {
      if (g > 0 && peek() != '-') return fail(start, form);
      if (g > 0) ++pos_;
      for (int i = 0; i < kGroups[g]; i += 2) {
        std::uint8_t byte = 0;
        for (int k = 0; k < 2; ++k) {
          const char c = peek();
          unsigned d = 0;
          if (is_digit(c)) d = static_cast<unsigned>(c - '0');
          else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
          else if (c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
          else return fail(start, form);
          byte = static_cast<std::uint8_t>(byte * 16 + d);
          ++pos_;
        }
        raw[n++] = byte;
      }
    }
    TolGuid guid{};
    static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) guid[static_cast<std::size_t>(i)] = raw[kOrder[i]];
    out = guid;
    return true;
  }

  std::string_view text_;
  GError** error_;
  std::size_t* where_;
  std::size_t pos_ = 0;
};

std::vector<std::string> names_of_bits(std::uint32_t bits, std::span<const Token> table) {
  std::vector<std::string> names;
  std::uint32_t left = bits;
  for (const Token& t : table) {
    if ((bits & t.bits) != 0) {
      names.emplace_back(t.text);
      left &= ~t.bits;
    }
  }
  if (left != 0) names.push_back(hex32(left));
  return names;
}

}  // namespace

// --- SIDs ------------------------------------------------------------------------

std::string tol_sid_string(const TolSid& sid) {
  std::string out = "S-" + std::to_string(sid.revision) + "-";
  if (sid.authority >= (std::uint64_t{1} << 32)) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%012llX", static_cast<unsigned long long>(sid.authority));
    out += buf;
  } else {
    out += std::to_string(sid.authority);
  }
  for (const std::uint32_t s : sid.sub_authorities) out += "-" + std::to_string(s);
  return out;
}

std::optional<TolSid> tol_sid_parse(std::string_view text) {
  if (text.substr(0, 2) != "S-") return std::nullopt;
  std::optional<TolSecurityDescriptor> sd = tol_sddl_parse("O:" + std::string(text), nullptr);
  // Nothing may follow the SID (a "G:" would parse as the next part).
  if (!sd || !sd->owner || sd->group || sd->dacl.state != TolAclState::absent ||
      sd->sacl.state != TolAclState::absent)
    return std::nullopt;
  return sd->owner;
}

std::span<const TolWellKnownSid> tol_well_known_sids() { return kWellKnown; }

const TolWellKnownSid* tol_sid_well_known(const TolSid& sid) {
  // Every entry is short text: comparing the SID's text is simpler than
  // keeping a second, binary table in step.
  const std::string text = tol_sid_string(sid);
  for (const TolWellKnownSid& w : kWellKnown)
    if (text == w.sid) return &w;
  return nullptr;
}

std::string tol_sid_display(const TolSid& sid) {
  const TolWellKnownSid* known = tol_sid_well_known(sid);
  return known ? std::string(known->name) + " (" + known->sid + ")" : tol_sid_string(sid);
}

std::string tol_guid_string(const TolGuid& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", g[3], g[2],
                g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14],
                g[15]);
  return buf;
}

bool tol_ace_type_is_object(std::uint8_t type) {
  const AceType* t = ace_type(type);
  return t && t->object;
}

// --- Decoding, encoding ------------------------------------------------------------

std::optional<TolSecurityDescriptor> tol_sd_decode(std::span<const std::uint8_t> bytes,
                                                   GError** error, std::size_t* error_offset) {
  return Decoder(bytes, error, error_offset).run();
}

std::optional<std::vector<std::uint8_t>> tol_sd_encode(const TolSecurityDescriptor& sd,
                                                       GError** error) {
  std::uint16_t control = sd.control | TOL_SD_SELF_RELATIVE;
  control &= static_cast<std::uint16_t>(~(TOL_SD_DACL_PRESENT | TOL_SD_SACL_PRESENT));
  if (sd.dacl.state != TolAclState::absent) control |= TOL_SD_DACL_PRESENT;
  if (sd.sacl.state != TolAclState::absent) control |= TOL_SD_SACL_PRESENT;
  std::vector<std::uint8_t> b = {sd.revision, sd.resource_manager_control};
  put16(b, control);
  for (int i = 0; i < 4; ++i) put32(b, 0);
  if (sd.sacl.state == TolAclState::present) {
    set32(b, 12, static_cast<std::uint32_t>(b.size()));
    if (!put_acl(b, sd.sacl, "SACL", error)) return std::nullopt;
  }
  if (sd.dacl.state == TolAclState::present) {
    set32(b, 16, static_cast<std::uint32_t>(b.size()));
    if (!put_acl(b, sd.dacl, "DACL", error)) return std::nullopt;
  }
  if (sd.owner) {
    set32(b, 4, static_cast<std::uint32_t>(b.size()));
    put_sid(b, *sd.owner);
  }
  if (sd.group) {
    set32(b, 8, static_cast<std::uint32_t>(b.size()));
    put_sid(b, *sd.group);
  }
  return b;
}

// --- SDDL ------------------------------------------------------------------------

std::optional<std::string> tol_sddl_print(const TolSecurityDescriptor& sd, GError** error) {
  std::string out;
  if (sd.owner) out += "O:" + sid_sddl(*sd.owner);
  if (sd.group) out += "G:" + sid_sddl(*sd.group);
  if (sd.dacl.state != TolAclState::absent && !print_acl(out, sd.dacl, sd.control, true, error))
    return std::nullopt;
  if (sd.sacl.state != TolAclState::absent && !print_acl(out, sd.sacl, sd.control, false, error))
    return std::nullopt;
  return out;
}

std::optional<TolSecurityDescriptor> tol_sddl_parse(std::string_view text, GError** error,
                                                    std::size_t* error_position) {
  return Parser(text, error, error_position).run();
}

std::optional<std::string> tol_sddl_from_descriptor(std::span<const std::uint8_t> bytes,
                                                    GError** error) {
  const auto sd = tol_sd_decode(bytes, error);
  return sd ? tol_sddl_print(*sd, error) : std::nullopt;
}

std::optional<std::vector<std::uint8_t>> tol_sddl_to_descriptor(std::string_view text,
                                                                GError** error) {
  const auto sd = tol_sddl_parse(text, error);
  if (!sd) return std::nullopt;
  auto bytes = tol_sd_encode(*sd, error);
  // Encoding keeps every bound the check tests; the check stays the one gate
  // in front of the store.
  if (bytes && !tol_security_descriptor_valid(*bytes)) {
    g_set_error_literal(error, TOL_SDDL_ERROR, TOL_SDDL_ERROR_TOO_LARGE,
                        _("the descriptor does not pass the self-relative checks"));
    return std::nullopt;
  }
  return bytes;
}

// --- Words ------------------------------------------------------------------------

std::string tol_ace_type_name(std::uint8_t type) {
  const AceType* t = ace_type(type);
  if (t) return t->name;
  char buf[16];
  std::snprintf(buf, sizeof buf, "type 0x%02x", type);
  return buf;
}

const char* tol_ace_type_sddl(std::uint8_t type) {
  const AceType* t = ace_type(type);
  return t ? t->sddl : nullptr;
}

std::vector<std::string> tol_ace_flag_names(std::uint8_t flags) {
  static constexpr Token kNames[] = {
      {"object inherit", 0x01}, {"container inherit", 0x02}, {"no propagate", 0x04},
      {"inherit only", 0x08},   {"inherited", 0x10},         {"critical", 0x20},
      {"successful access", 0x40}, {"failed access", 0x80},
  };
  return names_of_bits(flags, kNames);
}

std::string tol_ace_applies_to(std::uint8_t flags) {
  if ((flags & TOL_ACE_CONTAINER_INHERIT) == 0) return "This key only";
  return (flags & TOL_ACE_INHERIT_ONLY) != 0 ? "Subkeys only" : "This key and subkeys";
}

std::vector<std::string> tol_sd_control_names(std::uint16_t control) {
  static constexpr Token kNames[] = {
      {"owner defaulted", 0x0001},  {"group defaulted", 0x0002},
      {"DACL present", 0x0004},     {"DACL defaulted", 0x0008},
      {"SACL present", 0x0010},     {"SACL defaulted", 0x0020},
      {"DACL trusted", 0x0040},     {"server security", 0x0080},
      {"DACL auto-inherit required", 0x0100}, {"SACL auto-inherit required", 0x0200},
      {"DACL auto-inherited", 0x0400}, {"SACL auto-inherited", 0x0800},
      {"DACL protected", 0x1000},   {"SACL protected", 0x2000},
      {"RM control valid", 0x4000}, {"self-relative", 0x8000},
  };
  return names_of_bits(control, kNames);
}

std::vector<std::string> tol_access_mask_names(std::uint32_t mask) {
  std::vector<std::string> names;
  std::uint32_t left = mask;
  if ((mask & kKeyAllAccess) == kKeyAllAccess) {
    names.emplace_back("Full Control");
    left &= ~kKeyAllAccess;
  } else {
    for (const Token& t : {Token{"Read", kKeyRead}, Token{"Write", kKeyWrite}}) {
      if ((mask & t.bits) != t.bits) continue;
      names.emplace_back(t.text);
      left &= ~t.bits;
    }
  }
  static constexpr Token kBits[] = {
      {"KEY_QUERY_VALUE", 0x1},      {"KEY_SET_VALUE", 0x2},
      {"KEY_CREATE_SUB_KEY", 0x4},   {"KEY_ENUMERATE_SUB_KEYS", 0x8},
      {"KEY_NOTIFY", 0x10},          {"KEY_CREATE_LINK", 0x20},
      {"KEY_WOW64_64KEY", 0x100},    {"KEY_WOW64_32KEY", 0x200},
      {"DELETE", 0x10000},           {"READ_CONTROL", 0x20000},
      {"WRITE_DAC", 0x40000},        {"WRITE_OWNER", 0x80000},
      {"SYNCHRONIZE", 0x100000},     {"ACCESS_SYSTEM_SECURITY", 0x1000000},
      {"MAXIMUM_ALLOWED", 0x2000000}, {"GENERIC_ALL", kGenericAll},
      {"GENERIC_EXECUTE", kGenericExecute}, {"GENERIC_WRITE", kGenericWrite},
      {"GENERIC_READ", kGenericRead},
  };
  for (std::string& name : names_of_bits(left, kBits)) names.push_back(std::move(name));
  return names;
}

// --- Storing ---------------------------------------------------------------------

bool tol_hive_store_sddl(TolHive& hive, std::uint32_t key, std::string_view sddl, GError** error) {
  const auto bytes = tol_sddl_to_descriptor(sddl, error);
  return bytes && tol_hive_store_security(hive, key, *bytes, error);
}

bool tol_document_store_sddl(TolDocument* document, std::uint32_t key, std::string_view sddl,
                             GError** error, TolChangeStatus* status) {
  const auto bytes = tol_sddl_to_descriptor(sddl, error);
  if (!bytes) {
    if (status) *status = TolChangeStatus::refused;
    return false;
  }
  return tol_document_change(
      document, TolChange{TolChangeKind::values, key},
      [&](TolHive& hive, GError** op_error) {
        return tol_hive_store_security(hive, key, *bytes, op_error);
      },
      error, status);
}
