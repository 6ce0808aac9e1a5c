// Taking media command strings apart.
#include "platform/posix/media_commands.h"

namespace {

// The text between the quotes of `quoted`, when it begins and ends with one.
bool Unquote(std::string_view quoted, std::string_view* name) {
  if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') return false;
  *name = quoted.substr(1, quoted.size() - 2);
  return true;
}

}  // namespace

bool ParseMediaCommand(const char* command, MediaCommand* parsed) {
  if (command == nullptr) return false;
  const std::string_view text(command);
  struct Form {
    std::string_view verb;  // with its blank
    std::string_view tail;
    MediaVerb meaning;
  };
  static constexpr Form kForms[] = {
      {"open ", "", MediaVerb::kOpen},
      {"play ", "", MediaVerb::kPlay},
      {"status ", " mode", MediaVerb::kStatusMode},
      {"close ", "", MediaVerb::kClose},
  };
  for (const Form& form : kForms) {
    if (!text.starts_with(form.verb)) continue;
    std::string_view rest = text.substr(form.verb.size());
    if (!rest.ends_with(form.tail)) return false;
    rest.remove_suffix(form.tail.size());
    if (!Unquote(rest, &parsed->name)) return false;
    parsed->verb = form.meaning;
    return true;
  }
  return false;
}
