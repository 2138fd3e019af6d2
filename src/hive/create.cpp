// Writing a new, empty hive file: base block, one bin, a root key and its
// security record.
#include "hive/create.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "hive/bytes.h"
#include "hive/edit.h"
#include "hive/format.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kBinSize = 4096;
constexpr std::uint32_t kRootCell = TOL_BIN_HEADER_SIZE;
// Windows limits key names to 255 UTF-16 code units.
constexpr std::uint32_t kMaxNameUtf16Bytes = 255 * 2;
// KEY_HIVE_ENTRY | KEY_NO_DELETE: how Windows marks the root key of a hive.
constexpr std::uint16_t kRootFlags = 0x0004 | 0x0008;
constexpr std::uint64_t kUnixEpochAsFiletime = 116444736000000000ull;

void append_u16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void append_u32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

Bytes sid(std::uint8_t authority, std::initializer_list<std::uint32_t> sub_authorities) {
  Bytes b{1, static_cast<std::uint8_t>(sub_authorities.size()), 0, 0, 0, 0, 0, authority};
  for (const auto s : sub_authorities) append_u32(b, s);
  return b;
}

// An access-allowed entry that subkeys inherit.
Bytes allow(std::uint32_t mask, const Bytes& who) {
  constexpr std::uint8_t kAccessAllowed = 0x00;
  constexpr std::uint8_t kContainerInherit = 0x02;
  Bytes b{kAccessAllowed, kContainerInherit};
  append_u16(b, static_cast<std::uint16_t>(8 + who.size()));
  append_u32(b, mask);
  b.insert(b.end(), who.begin(), who.end());
  return b;
}

// Owner Administrators, group SYSTEM; full control for SYSTEM and
// Administrators, read access for Everyone.
Bytes default_descriptor() {
  constexpr std::uint32_t kKeyAllAccess = 0x000F003F;
  constexpr std::uint32_t kKeyRead = 0x00020019;
  const Bytes system = sid(5, {18});
  const Bytes administrators = sid(5, {32, 544});
  const Bytes everyone = sid(1, {0});

  Bytes aces;
  for (const Bytes& ace : {allow(kKeyAllAccess, system), allow(kKeyAllAccess, administrators),
                           allow(kKeyRead, everyone)})
    aces.insert(aces.end(), ace.begin(), ace.end());
  Bytes acl{2, 0};  // ACL revision 2
  append_u16(acl, static_cast<std::uint16_t>(8 + aces.size()));
  append_u16(acl, 3);
  append_u16(acl, 0);
  acl.insert(acl.end(), aces.begin(), aces.end());

  constexpr std::uint16_t kSelfRelativeDaclPresent = 0x8004;
  constexpr std::uint32_t kHeader = 20;
  const auto owner_at = static_cast<std::uint32_t>(kHeader + acl.size());
  const auto group_at = static_cast<std::uint32_t>(owner_at + administrators.size());
  Bytes sd{1, 0};
  append_u16(sd, kSelfRelativeDaclPresent);
  append_u32(sd, owner_at);
  append_u32(sd, group_at);
  append_u32(sd, 0);  // no system ACL
  append_u32(sd, kHeader);
  sd.insert(sd.end(), acl.begin(), acl.end());
  sd.insert(sd.end(), administrators.begin(), administrators.end());
  sd.insert(sd.end(), system.begin(), system.end());
  return sd;
}

std::uint32_t cell_size(std::uint32_t data_bytes) { return (data_bytes + 4 + 7) & ~7u; }

// A file error whose message names the file as the user typed it.
void set_error(GError** error, int err, const char* translated_format, const std::string& path,
               const char* detail = nullptr) {
  gchar* shown = g_filename_display_name(path.c_str());
  gchar* message = g_strdup_printf(translated_format, shown, detail);
  g_set_error_literal(error, G_FILE_ERROR,
                      err == EEXIST ? G_FILE_ERROR_EXIST : g_file_error_from_errno(err), message);
  g_free(message);
  g_free(shown);
}

// Base block and one bin holding the root key, its security record and one
// free cell for the rest.
Bytes build_image(const TolEncodedName& name, const std::string& path) {
  Bytes image(TOL_BASE_BLOCK_SIZE + kBinSize, 0);
  tol::MutByteView file{std::span<std::uint8_t>(image)};
  tol::MutByteView base = file.sub(0, TOL_BASE_BLOCK_SIZE);
  tol::MutByteView bins = file.sub(TOL_BASE_BLOCK_SIZE, kBinSize);
  const std::uint64_t now =
      static_cast<std::uint64_t>(g_get_real_time()) * 10 + kUnixEpochAsFiletime;

  base.put_bytes(0, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("regf"), 4));
  base.put_u32(TOL_BASE_SEQ_PRIMARY, 1);
  base.put_u32(TOL_BASE_SEQ_SECONDARY, 1);
  base.put_u64(0x0C, now);
  base.put_u32(0x14, 1);  // major version
  base.put_u32(0x18, 5);  // minor version
  base.put_u32(0x1C, 0);  // primary hive file
  base.put_u32(0x20, 1);  // direct memory load format
  base.put_u32(TOL_BASE_ROOT_CELL, kRootCell);
  base.put_u32(TOL_BASE_BINS_SIZE, kBinSize);
  base.put_u32(0x2C, 1);  // clustering factor
  // Windows keeps the tail of the file's name here (31 UTF-16 units at most);
  // only diagnostics read it.
  gchar* shown = g_filename_display_basename(path.c_str());
  glong units = 0;
  gunichar2* utf16 = g_utf8_to_utf16(shown, -1, nullptr, &units, nullptr);
  if (utf16 != nullptr) {
    const glong first = units > 31 ? units - 31 : 0;
    for (glong i = first; i < units; ++i)
      base.put_u16(0x30 + static_cast<std::size_t>(i - first) * 2, utf16[i]);
  }
  g_free(utf16);
  g_free(shown);

  bins.put_bytes(0, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("hbin"), 4));
  bins.put_u32(4, 0);
  bins.put_u32(8, kBinSize);

  const std::uint32_t nk_size = cell_size(TOL_NK_MIN_DATA + name.length);
  const Bytes sd = default_descriptor();
  const std::uint32_t sk_cell = kRootCell + nk_size;
  const std::uint32_t sk_size = cell_size(TOL_SK_MIN_DATA + static_cast<std::uint32_t>(sd.size()));
  const std::uint32_t free_cell = sk_cell + sk_size;

  bins.put_u32(kRootCell, static_cast<std::uint32_t>(-static_cast<std::int32_t>(nk_size)));
  tol::MutByteView nk = bins.sub(kRootCell + 4, nk_size - 4);
  nk.put_u8(0, 'n');
  nk.put_u8(1, 'k');
  nk.put_u16(TOL_NK_FLAGS,
             static_cast<std::uint16_t>(kRootFlags | (name.one_byte ? TOL_NK_FLAG_ASCII_NAME : 0)));
  nk.put_u64(TOL_NK_TIMESTAMP, now);
  // The root has no parent; Windows itself leaves the field meaningless.
  nk.put_u32(TOL_NK_PARENT, TOL_NO_CELL);
  nk.put_u32(TOL_NK_SUBKEY_LIST, TOL_NO_CELL);
  nk.put_u32(TOL_NK_SUBKEY_LIST + 4, TOL_NO_CELL);  // volatile subkey list
  nk.put_u32(TOL_NK_VALUE_LIST, TOL_NO_CELL);
  nk.put_u32(TOL_NK_SECURITY, sk_cell);
  nk.put_u32(TOL_NK_CLASS, TOL_NO_CELL);
  nk.put_u16(TOL_NK_NAME_LENGTH, name.length);
  nk.put_bytes(TOL_NK_NAME, std::span<const std::uint8_t>(name.bytes).first(name.length));

  bins.put_u32(sk_cell, static_cast<std::uint32_t>(-static_cast<std::int32_t>(sk_size)));
  tol::MutByteView sk = bins.sub(sk_cell + 4, sk_size - 4);
  sk.put_u8(0, 's');
  sk.put_u8(1, 'k');
  // The only security record of the hive is a list of one.
  sk.put_u32(TOL_SK_FLINK, sk_cell);
  sk.put_u32(TOL_SK_BLINK, sk_cell);
  sk.put_u32(TOL_SK_REFCOUNT, 1);
  sk.put_u32(TOL_SK_DESC_LENGTH, static_cast<std::uint32_t>(sd.size()));
  sk.put_bytes(TOL_SK_DESC, sd);

  bins.put_u32(free_cell, kBinSize - free_cell);

  base.put_u32(TOL_BASE_CHECKSUM, tol_hive_checksum(base.view()));
  return image;
}

bool write_all(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::vector<std::uint8_t> tol_default_security_descriptor() { return default_descriptor(); }

bool tol_hive_create_file(const std::string& path, std::string_view root_name, GError** error) {
  const TolEncodedName name = tol_name_encode(root_name);
  const bool valid_utf8 = g_utf8_validate(root_name.data(), static_cast<gssize>(root_name.size()), nullptr);
  if (root_name.empty() || !valid_utf8 || root_name.find('\\') != std::string_view::npos ||
      tol_name_utf16_bytes(root_name) > kMaxNameUtf16Bytes || !name.fits) {
    g_set_error_literal(error, G_FILE_ERROR, G_FILE_ERROR_INVAL,
                        g_dgettext(GETTEXT_PACKAGE, "Invalid root key name"));
    return false;
  }
  const Bytes image = build_image(name, path);

  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int err = errno;
    if (err == EEXIST)
      set_error(error, err, g_dgettext(GETTEXT_PACKAGE, "The file \"%s\" already exists"), path);
    else
      set_error(error, err, g_dgettext(GETTEXT_PACKAGE, "Cannot create the file \"%s\": %s"),
                path, g_strerror(err));
    return false;
  }
  const bool written = write_all(fd, image) && ::fsync(fd) == 0;
  int err = errno;
  if (::close(fd) != 0 && written) {
    err = errno;
  } else if (written) {
    return true;
  }
  // The file is ours (created exclusively): a partial hive must not stay.
  ::unlink(path.c_str());
  set_error(error, err, g_dgettext(GETTEXT_PACKAGE, "Writing the file \"%s\" failed: %s"), path,
            g_strerror(err));
  return false;
}
