// Security descriptors of keys as data and as SDDL text.
//
// A self-relative SECURITY_DESCRIPTOR (the bytes of an sk record) decodes
// into a TolSecurityDescriptor: control flags, owner and group SIDs, system
// and discretionary ACLs with their ACEs. Decoding never trusts the bytes: any
// count, size or offset that does not fit ends it with a TOL_SDDL_ERROR_DECODE
// naming the byte offset and the reason.
//
// SDDL is the text form Windows uses ("O:BAG:SYD:PAI(A;CI;KA;;;SY)"). Printing
// writes one canonical text for a descriptor:
//  - parts in the order O:, G:, D:, S:; a part is left out when the
//    descriptor has no owner, no group, or no DACL/SACL present;
//  - ACL flags in the order P, AR, AI, then NO_ACCESS_CONTROL for a NULL ACL;
//    "D:" alone is a present, empty ACL;
//  - ACEs as (type;flags;rights;object_guid;inherit_object_guid;sid), ACE
//    flags in bit order (OI CI NP IO ID CR SA FA);
//  - rights: KA, KR, KW, GA, GR, GW or GX when the mask is exactly that one
//    (KEY_EXECUTE equals KEY_READ and prints as KR); else the letters GA GR GW
//    GX SD RC WD WO in that order when the mask has no other bits; NR NW NX
//    for mandatory labels; otherwise lower-case hex "0x1f";
//  - SIDs as their alias when they have one, else "S-1-...";
//  - GUIDs in lower case.
// What SDDL cannot carry (the "defaulted", "trusted" and resource-manager
// control bits, padding behind an ACE's SID, the ACL revision) is left out.
// Parsing accepts more than it prints (decimal masks, FA/FR/..., the
// directory rights, lower-case GUIDs, parts in any order) and builds the
// layout Windows writes for registry keys: the header, then the SACL, the
// DACL, the owner and the group, ACL revision 2 (4 when an ACL holds an
// object ACE). For a descriptor in that layout, printing and parsing give
// back the same bytes.
#pragma once

#include <glib.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hive/document.h"
#include "hive/hive.h"

#define TOL_SDDL_ERROR (tol_sddl_error_quark())
GQuark tol_sddl_error_quark();

enum TolSddlError {
  TOL_SDDL_ERROR_PARSE,        // "SDDL position 12: expected \";\""
  TOL_SDDL_ERROR_DECODE,       // "security descriptor offset 36: ..."
  TOL_SDDL_ERROR_UNPRINTABLE,  // a decoded part SDDL has no text for
  TOL_SDDL_ERROR_TOO_LARGE,    // an ACL past 65535 bytes or ACEs
};

// --- SIDs ------------------------------------------------------------------------

struct TolSid {
  std::uint8_t revision = 1;
  std::uint64_t authority = 0;                 // 48 bits, stored big-endian
  std::vector<std::uint32_t> sub_authorities;  // at most 15
  bool operator==(const TolSid&) const = default;
};

// "S-1-5-32-544"; an authority of 2^32 or more as 0x and 12 hex digits.
std::string tol_sid_string(const TolSid& sid);
// "S-1-..." text to a SID; nothing when it is not one.
std::optional<TolSid> tol_sid_parse(std::string_view text);

struct TolWellKnownSid {
  const char* sid;    // "S-1-5-18"
  const char* alias;  // SDDL alias ("SY"), or null when SDDL has none
  const char* name;   // account name as Windows shows it ("NT AUTHORITY\SYSTEM")
};
// The SIDs known by name: SDDL's aliases that need no domain, and a few
// without alias found on registry keys (TrustedInstaller, ALL RESTRICTED
// APPLICATION PACKAGES).
std::span<const TolWellKnownSid> tol_well_known_sids();
// The entry for a SID, or null.
const TolWellKnownSid* tol_sid_well_known(const TolSid& sid);
// "NT AUTHORITY\SYSTEM (S-1-5-18)" for a known SID, "S-1-..." otherwise.
std::string tol_sid_display(const TolSid& sid);

// --- Descriptors ---------------------------------------------------------------

// A GUID as stored: Data1, Data2 and Data3 little-endian, then Data4.
using TolGuid = std::array<std::uint8_t, 16>;
// "bf967aba-0de6-11d0-a285-00aa003049e2".
std::string tol_guid_string(const TolGuid& guid);

// ACE types.
inline constexpr std::uint8_t TOL_ACE_ACCESS_ALLOWED = 0x00;
inline constexpr std::uint8_t TOL_ACE_ACCESS_DENIED = 0x01;
inline constexpr std::uint8_t TOL_ACE_SYSTEM_AUDIT = 0x02;
inline constexpr std::uint8_t TOL_ACE_SYSTEM_ALARM = 0x03;
inline constexpr std::uint8_t TOL_ACE_ACCESS_ALLOWED_OBJECT = 0x05;
inline constexpr std::uint8_t TOL_ACE_ACCESS_DENIED_OBJECT = 0x06;
inline constexpr std::uint8_t TOL_ACE_SYSTEM_AUDIT_OBJECT = 0x07;
inline constexpr std::uint8_t TOL_ACE_SYSTEM_ALARM_OBJECT = 0x08;
inline constexpr std::uint8_t TOL_ACE_SYSTEM_MANDATORY_LABEL = 0x11;

// ACE flags.
inline constexpr std::uint8_t TOL_ACE_OBJECT_INHERIT = 0x01;
inline constexpr std::uint8_t TOL_ACE_CONTAINER_INHERIT = 0x02;
inline constexpr std::uint8_t TOL_ACE_NO_PROPAGATE_INHERIT = 0x04;
inline constexpr std::uint8_t TOL_ACE_INHERIT_ONLY = 0x08;
inline constexpr std::uint8_t TOL_ACE_INHERITED = 0x10;

// Descriptor control flags.
inline constexpr std::uint16_t TOL_SD_OWNER_DEFAULTED = 0x0001;
inline constexpr std::uint16_t TOL_SD_GROUP_DEFAULTED = 0x0002;
inline constexpr std::uint16_t TOL_SD_DACL_PRESENT = 0x0004;
inline constexpr std::uint16_t TOL_SD_DACL_DEFAULTED = 0x0008;
inline constexpr std::uint16_t TOL_SD_SACL_PRESENT = 0x0010;
inline constexpr std::uint16_t TOL_SD_SACL_DEFAULTED = 0x0020;
inline constexpr std::uint16_t TOL_SD_DACL_AUTO_INHERIT_REQ = 0x0100;
inline constexpr std::uint16_t TOL_SD_SACL_AUTO_INHERIT_REQ = 0x0200;
inline constexpr std::uint16_t TOL_SD_DACL_AUTO_INHERITED = 0x0400;
inline constexpr std::uint16_t TOL_SD_SACL_AUTO_INHERITED = 0x0800;
inline constexpr std::uint16_t TOL_SD_DACL_PROTECTED = 0x1000;
inline constexpr std::uint16_t TOL_SD_SACL_PROTECTED = 0x2000;
inline constexpr std::uint16_t TOL_SD_SELF_RELATIVE = 0x8000;

struct TolAce {
  std::uint8_t type = TOL_ACE_ACCESS_ALLOWED;
  std::uint8_t flags = 0;
  std::uint32_t mask = 0;
  // Object ACEs: which GUIDs are present (bit 1 object type, bit 2 inherited
  // object type) and the GUIDs.
  std::uint32_t object_flags = 0;
  std::optional<TolGuid> object_type;
  std::optional<TolGuid> inherited_object_type;
  TolSid sid;
  // Bytes behind the SID inside the ACE: application data of callback and
  // resource-attribute ACEs, or padding. For a type this code does not know
  // (`known` false) everything behind the 4-byte header, mask and SID unread.
  std::vector<std::uint8_t> trailing;
  bool known = true;
};

// Whether an ACE type has the object layout (mask, flags, GUIDs, SID).
bool tol_ace_type_is_object(std::uint8_t type);

enum class TolAclState {
  absent,    // the descriptor has no such ACL (control bit clear)
  null_acl,  // present with offset 0: grants everyone everything (DACL)
  present,   // an ACL, possibly with no ACEs (which grants nothing)
};

struct TolAcl {
  TolAclState state = TolAclState::absent;
  std::uint8_t revision = 2;
  std::vector<TolAce> aces;
};

struct TolSecurityDescriptor {
  std::uint8_t revision = 1;
  std::uint8_t resource_manager_control = 0;  // Sbz1
  std::uint16_t control = TOL_SD_SELF_RELATIVE;
  std::optional<TolSid> owner;
  std::optional<TolSid> group;
  TolAcl sacl;
  TolAcl dacl;
};

// Decodes self-relative descriptor bytes. On damage: nothing, and a
// TOL_SDDL_ERROR_DECODE whose message names the byte offset ("security
// descriptor offset 36: ACE 2 of 3 has size 0"); `error_offset` receives it.
std::optional<TolSecurityDescriptor> tol_sd_decode(std::span<const std::uint8_t> bytes,
                                                   GError** error,
                                                   std::size_t* error_offset = nullptr);
// The self-relative bytes in the layout described above. The control's
// present bits follow the ACL states; the self-relative bit is always set.
// Nothing with TOL_SDDL_ERROR_TOO_LARGE when an ACL exceeds 65535 bytes.
std::optional<std::vector<std::uint8_t>> tol_sd_encode(const TolSecurityDescriptor& sd,
                                                       GError** error);

// --- SDDL ------------------------------------------------------------------------

// The canonical SDDL text; nothing with TOL_SDDL_ERROR_UNPRINTABLE for an ACE
// whose type has no SDDL letters or that carries application data.
std::optional<std::string> tol_sddl_print(const TolSecurityDescriptor& sd, GError** error);
// Parses SDDL. On a mistake: nothing, and a TOL_SDDL_ERROR_PARSE reading
// "SDDL position N: expected X" (or what is wrong there), N counting bytes
// from 0; `error_position` receives N. Aliases that need a domain or machine
// SID (DA, LA, ...) are refused, as are conditional ACE expressions.
std::optional<TolSecurityDescriptor> tol_sddl_parse(std::string_view text, GError** error,
                                                    std::size_t* error_position = nullptr);
// Descriptor bytes straight to SDDL, and SDDL straight to bytes that pass
// tol_security_descriptor_valid (the check a stored descriptor must pass).
std::optional<std::string> tol_sddl_from_descriptor(std::span<const std::uint8_t> bytes,
                                                    GError** error);
std::optional<std::vector<std::uint8_t>> tol_sddl_to_descriptor(std::string_view text,
                                                                GError** error);

// --- Words for a view ------------------------------------------------------------

// "Allow", "Deny", "Audit", "Alarm", "Allow (object)", ..., "Mandatory label";
// "type 0x04" for the rest.
std::string tol_ace_type_name(std::uint8_t type);
// The ACE type's SDDL letters ("A", "OA"), or null when it has none.
const char* tol_ace_type_sddl(std::uint8_t type);
// Flag names in bit order: "object inherit", "container inherit", "no
// propagate", "inherit only", "inherited", "critical", "successful access",
// "failed access".
std::vector<std::string> tol_ace_flag_names(std::uint8_t flags);
// What a registry ACE applies to, as regedit words it: "This key only",
// "This key and subkeys", "Subkeys only".
std::string tol_ace_applies_to(std::uint8_t flags);
// Control flag names in bit order ("DACL present", "DACL protected",
// "self-relative", ...), unnamed bits as "0x...".
std::vector<std::string> tol_sd_control_names(std::uint16_t control);
// A registry access mask in words: "Full Control" for all of KEY_ALL_ACCESS,
// "Read" for KEY_READ and "Write" for KEY_WRITE, then the names of the other
// bits (KEY_QUERY_VALUE, ..., DELETE, READ_CONTROL, WRITE_DAC, WRITE_OWNER,
// SYNCHRONIZE, ACCESS_SYSTEM_SECURITY, MAXIMUM_ALLOWED, GENERIC_ALL,
// GENERIC_EXECUTE, GENERIC_WRITE, GENERIC_READ), bits without a name as one
// "0x..." entry.
std::vector<std::string> tol_access_mask_names(std::uint32_t mask);

// --- Storing ---------------------------------------------------------------------

// Parses the SDDL and gives the key a descriptor of its own with it (see
// tol_hive_store_security), as one operation for tol_document_change or a
// window's commit.
bool tol_hive_store_sddl(TolHive& hive, std::uint32_t key, std::string_view sddl, GError** error);
// The same as one undoable change of the document, announced as a change of
// the key's values (the key's own record changed; no list did). Text that
// does not parse starts no change.
bool tol_document_store_sddl(TolDocument* document, std::uint32_t key, std::string_view sddl,
                             GError** error, TolChangeStatus* status = nullptr);
