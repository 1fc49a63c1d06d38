#include "apps/zantrix/arguments.h"

#include "zantrix/framework/text.h"

namespace zantrix::app {

Arguments::Arguments(std::span<const std::string> words,
                     const std::set<std::string, std::less<>>& options,
                     const std::set<std::string, std::less<>>& switches) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (!word.starts_with("--") || word == "--") {
      positional_.push_back(word);
      continue;
    }
    std::string name = word;
    std::optional<std::string> inline_value;
    if (const auto eq = word.find('='); eq != std::string::npos) {
      name = word.substr(0, eq);
      inline_value = word.substr(eq + 1);
    }
    if (switches.contains(name) && !inline_value) {
      switches_.insert(name);
    } else if (options.contains(name)) {
      if (inline_value) {
        values_[name] = *inline_value;
      } else if (i + 1 < words.size()) {
        values_[name] = words[++i];
      } else {
        throw UsageError("option " + name + " needs a value");
      }
    } else {
      throw UsageError("unknown option " + name);
    }
  }
}

std::optional<std::string> Arguments::option(std::string_view name) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::string Arguments::required(std::string_view name) const {
  if (auto value = option(name)) return *value;
  throw UsageError("missing option " + std::string(name));
}

bool Arguments::has(std::string_view name) const {
  return switches_.contains(name) || values_.contains(name);
}

std::int64_t Arguments::positive_integer(std::string_view name, std::int64_t fallback) const {
  const auto text = option(name);
  if (!text) return fallback;
  const auto value = framework::parse_integer_text(*text);
  if (!value || *value < 1) throw UsageError(std::string(name) + " needs a positive integer");
  return *value;
}

}  // namespace zantrix::app
