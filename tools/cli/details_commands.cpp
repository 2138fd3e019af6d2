// Commands about one key's record and about times: stat, timeline; and the
// printed forms of the sd command (hex, SDDL, decoded, JSON).
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/json.h"
#include "cli/support.h"
#include "hive/details.h"
#include "hive/errors.h"
#include "hive/sddl.h"
#include "search/timeline.h"
#include "value/codec.h"

namespace tolcli {
namespace {

std::string shown_path(std::string_view path) { return "\\" + std::string(path); }

std::string joined(const std::vector<std::string>& words, const char* separator = ", ") {
  std::string out;
  for (const std::string& w : words) {
    if (!out.empty()) out += separator;
    out += w;
  }
  return out;
}

void json_words(Json& j, const std::vector<std::string>& words) {
  j.begin_array();
  for (const std::string& w : words) j.str(w);
  j.end_array();
}

int cmd_stat(std::span<const std::string> args) {
  if (args.size() != 2) return usage_error(*find_command("stat"));
  TolHivePtr hive = open_hive(args[0]);
  if (!hive) return kFailed;
  const auto key = resolve_key(*hive, args[1]);
  if (!key) return kFailed;
  GError* error = nullptr;
  const auto d = tol_hive_key_details(*hive, *key, &error);
  if (!d) {
    const int rc = fail(kFailed, error && error->message ? error->message : "the key cannot be read");
    g_clear_error(&error);
    return rc;
  }
  const std::string path = tol_hive_key_path(*hive, *key);
  if (json_output()) {
    Json j;
    j.begin_object().key("path").str(path).key("offset").num(d->offset).key("parent").num(d->parent);
    j.key("last_write").str(tol_filetime_iso8601(d->last_write));
    j.key("last_write_filetime").num(d->last_write);
    j.key("flags").num(d->flags).key("flag_names");
    json_words(j, tol_key_flag_names(d->flags));
    j.key("class_name");
    if (d->class_name) j.str(*d->class_name);
    else j.null();
    j.key("class_offset").num(d->class_offset).key("class_length").num(d->class_length);
    j.key("subkeys").num(d->subkey_count).key("volatile_subkeys").num(d->volatile_subkey_count);
    j.key("values").num(d->value_count);
    j.key("max_subkey_name").num(d->max_subkey_name).key("max_class_name").num(d->max_class_name);
    j.key("max_value_name").num(d->max_value_name).key("max_value_data").num(d->max_value_data);
    j.key("virtualization_flags").num(d->virtualization_flags).key("user_flags").num(d->user_flags);
    j.key("security").begin_object().key("offset").num(d->security_offset).key("refcount");
    if (d->security_refcount) j.num(*d->security_refcount);
    else j.null();
    j.key("length");
    if (d->security_length) j.num(*d->security_length);
    else j.null();
    j.end_object().key("problems");
    json_words(j, d->problems);
    print_json(j.end_object());
    return kOk;
  }
  std::printf("key: %s\n", shown_path(path).c_str());
  std::printf("offset: %s\n", tol_hex(d->offset).c_str());
  std::printf("parent: %s\n", tol_hex(d->parent).c_str());
  std::printf("last write: %s\n", tol_filetime_iso8601(d->last_write).c_str());
  const std::vector<std::string> flags = tol_key_flag_names(d->flags);
  std::printf("flags: %s%s%s%s\n", tol_hex(d->flags).c_str(), flags.empty() ? "" : " (",
              joined(flags).c_str(), flags.empty() ? "" : ")");
  if (d->class_name)
    std::printf("class name: \"%s\" (%u bytes at %s)\n", d->class_name->c_str(), d->class_length,
                tol_hex(d->class_offset).c_str());
  else
    std::printf("class name: none\n");
  std::printf("subkeys: %u\nvolatile subkeys: %u\nvalues: %u\n", d->subkey_count,
              d->volatile_subkey_count, d->value_count);
  std::printf("largest subkey name: %u\nlargest class name: %u\n", d->max_subkey_name,
              d->max_class_name);
  std::printf("largest value name: %u\nlargest value data: %u\n", d->max_value_name,
              d->max_value_data);
  if (d->virtualization_flags != 0 || d->user_flags != 0)
    std::printf("virtualization flags: %s\nuser flags: %s\n", tol_hex(d->virtualization_flags).c_str(),
                tol_hex(d->user_flags).c_str());
  std::printf("security cell: %s", tol_hex(d->security_offset).c_str());
  if (d->security_refcount) std::printf(", %u references", *d->security_refcount);
  if (d->security_length) std::printf(", descriptor of %u bytes", *d->security_length);
  std::printf("\n");
  for (const std::string& p : d->problems) std::printf("problem: %s\n", p.c_str());
  return kOk;
}

// Writes text to standard output in large pieces: a whole-hive timeline is
// some 200,000 lines.
class Output {
 public:
  ~Output() { flush(); }
  std::string& buffer() { return text_; }
  void line_done() {
    text_ += '\n';
    if (text_.size() >= (1u << 16)) flush();
  }
  void flush() {
    std::fwrite(text_.data(), 1, text_.size(), stdout);
    text_.clear();
  }

 private:
  std::string text_;
};

int cmd_timeline(std::span<const std::string> raw) {
  const Command& self = *find_command("timeline");
  const auto args = parse_args(raw, {}, {"--since", "--until", "--limit"});
  if (!args) return usage_error(self);
  const std::vector<std::string>& pos = args->pos;
  TolTimelineOptions options;
  if (const auto v = args->value({"--limit"})) {
    const auto n = tol_value_parse_number(*v, 0xFFFFFFFFu);
    if (!n || *n == 0) return fail(kUsage, "--limit takes a positive number");
    options.limit = static_cast<std::size_t>(*n);
  }
  for (const char* bound : {"--since", "--until"}) {
    const auto v = args->value({bound});
    if (!v) continue;
    GError* error = nullptr;
    const auto time = tol_filetime_parse_iso8601(*v, &error);
    if (!time) {
      const int rc = fail(kUsage, error && error->message ? error->message : "invalid time");
      g_clear_error(&error);
      return rc;
    }
    (g_str_equal(bound, "--since") ? options.since : options.until) = *time;
  }
  if (pos.empty() || pos.size() > 2) return usage_error(self);
  TolHivePtr hive = open_hive(pos[0]);
  if (!hive) return kFailed;
  const auto key = resolve_key(*hive, pos.size() > 1 ? pos[1] : std::string());
  if (!key) return kFailed;

  const TolTimeline timeline = tol_timeline(*hive, *key, options);
  Output out;
  std::string path;
  for (const TolTimelineEntry& e : timeline.entries) {
    tol_timeline_path(*hive, timeline, e, path);
    if (json_output()) {
      Json j;
      j.begin_object().key("time").str(tol_filetime_iso8601(e.last_write));
      j.key("filetime").num(e.last_write).key("path").str(path).key("offset").num(e.key);
      out.buffer() += j.end_object().text();
    } else {
      tol_filetime_append_iso8601(out.buffer(), e.last_write);
      out.buffer() += "\t\\";
      out.buffer() += path;
    }
    out.line_done();
  }
  return kOk;
}

constexpr Command kDetailsCommands[] = {
    {"stat", "HIVE KEY [--json]",
     "the key's record: last write time (UTC), class name, flags, counts, largest-length fields, "
     "security cell and its reference count",
     cmd_stat},
    {"timeline", "HIVE [KEY] [--since TIME] [--until TIME] [--limit N] [--json]",
     "the keys of KEY's subtree by last write time, newest first, one \"TIME<TAB>\\PATH\" line "
     "each; TIME is UTC as YYYY-MM-DD[THH:MM[:SS]][Z], both bounds inclusive",
     cmd_timeline},
};

// --- sd's printed forms ----------------------------------------------------------

void json_sid(Json& j, const std::optional<TolSid>& sid) {
  if (!sid) {
    j.null();
    return;
  }
  const TolWellKnownSid* known = tol_sid_well_known(*sid);
  j.begin_object().key("sid").str(tol_sid_string(*sid)).key("name");
  if (known) j.str(known->name);
  else j.null();
  j.key("alias");
  if (known && known->alias) j.str(known->alias);
  else j.null();
  j.end_object();
}

const char* acl_state(TolAclState state) {
  switch (state) {
    case TolAclState::absent: return "absent";
    case TolAclState::null_acl: return "null";
    case TolAclState::present: break;
  }
  return "present";
}

void json_acl(Json& j, const TolAcl& acl) {
  j.begin_object().key("state").str(acl_state(acl.state));
  if (acl.state == TolAclState::present) {
    j.key("revision").num(acl.revision).key("aces").begin_array();
    for (const TolAce& ace : acl.aces) {
      j.begin_object().key("type").num(ace.type).key("type_name").str(tol_ace_type_name(ace.type));
      j.key("flags").num(ace.flags).key("flag_names");
      json_words(j, tol_ace_flag_names(ace.flags));
      if (!ace.known) {
        j.key("body_hex").hex(ace.trailing).end_object();
        continue;
      }
      j.key("applies_to").str(tol_ace_applies_to(ace.flags));
      j.key("mask").num(ace.mask).key("rights");
      json_words(j, tol_access_mask_names(ace.mask));
      j.key("sid");
      json_sid(j, ace.sid);
      if (tol_ace_type_is_object(ace.type)) {
        j.key("object_type");
        if (ace.object_type) j.str(tol_guid_string(*ace.object_type));
        else j.null();
        j.key("inherited_object_type");
        if (ace.inherited_object_type) j.str(tol_guid_string(*ace.inherited_object_type));
        else j.null();
      }
      if (!ace.trailing.empty()) j.key("application_data_hex").hex(ace.trailing);
      j.end_object();
    }
    j.end_array();
  }
  j.end_object();
}

void print_acl(const char* name, const TolAcl& acl) {
  if (acl.state != TolAclState::present) {
    std::printf("%s: %s\n", name,
                acl.state == TolAclState::absent ? "none" : "NULL (everyone has full access)");
    return;
  }
  std::printf("%s: %zu %s\n", name, acl.aces.size(), acl.aces.size() == 1 ? "entry" : "entries");
  for (const TolAce& ace : acl.aces) {
    std::printf("  %s", tol_ace_type_name(ace.type).c_str());
    if (!ace.known) {
      std::printf(" (%zu bytes not decoded)\n", ace.trailing.size());
      continue;
    }
    std::printf(" %s: %s (0x%08x); %s", tol_sid_display(ace.sid).c_str(),
                joined(tol_access_mask_names(ace.mask)).c_str(), ace.mask,
                tol_ace_applies_to(ace.flags).c_str());
    const auto flags = tol_ace_flag_names(ace.flags);
    if (!flags.empty()) std::printf("; flags: %s", joined(flags).c_str());
    if (ace.object_type) std::printf("; object type %s", tol_guid_string(*ace.object_type).c_str());
    if (ace.inherited_object_type)
      std::printf("; inherited object type %s", tol_guid_string(*ace.inherited_object_type).c_str());
    std::printf("\n");
  }
}

}  // namespace

std::span<const Command> details_commands() { return kDetailsCommands; }

int print_security(std::span<const std::uint8_t> descriptor, SecurityForm form) {
  GError* error = nullptr;
  const auto sd = form == SecurityForm::hex && !json_output() ? std::nullopt
                                                              : tol_sd_decode(descriptor, &error);
  if (json_output()) {
    std::optional<std::string> sddl;
    if (sd) sddl = tol_sddl_print(*sd, &error);
    Json j;
    j.begin_object().key("hex").hex(descriptor).key("sddl");
    if (sddl) j.str(*sddl);
    else j.null();
    if (error) j.key("error").str(error->message ? error->message : "");
    if (sd) {
      j.key("control").num(sd->control).key("control_names");
      json_words(j, tol_sd_control_names(sd->control));
      j.key("owner");
      json_sid(j, sd->owner);
      j.key("group");
      json_sid(j, sd->group);
      j.key("dacl");
      json_acl(j, sd->dacl);
      j.key("sacl");
      json_acl(j, sd->sacl);
    }
    print_json(j.end_object());
    g_clear_error(&error);
    return kOk;
  }
  if (form == SecurityForm::hex) {
    std::printf("%s\n", tol_value_hex_format(descriptor).c_str());
    return kOk;
  }
  if (!sd) {
    const int rc = fail(kFailed, error && error->message ? error->message : "cannot decode the descriptor");
    g_clear_error(&error);
    return rc;
  }
  if (form == SecurityForm::sddl) {
    const auto sddl = tol_sddl_print(*sd, &error);
    if (!sddl) {
      const int rc = fail(kFailed, error && error->message ? error->message : "no SDDL form");
      g_clear_error(&error);
      return rc;
    }
    std::printf("%s\n", sddl->c_str());
    return kOk;
  }
  std::printf("control: 0x%04x (%s)\n", sd->control, joined(tol_sd_control_names(sd->control)).c_str());
  std::printf("owner: %s\n", sd->owner ? tol_sid_display(*sd->owner).c_str() : "none");
  std::printf("group: %s\n", sd->group ? tol_sid_display(*sd->group).c_str() : "none");
  print_acl("DACL", sd->dacl);
  print_acl("SACL", sd->sacl);
  if (const auto sddl = tol_sddl_print(*sd, &error)) std::printf("SDDL: %s\n", sddl->c_str());
  else std::printf("SDDL: none (%s)\n", error && error->message ? error->message : "");
  g_clear_error(&error);
  return kOk;
}

}  // namespace tolcli
