#include "zantrix/plugins/sqlite3/postgres_uri.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "zantrix/framework/errors.h"

namespace zantrix::plugins::sqlite3::detail {

namespace {

namespace zf = zantrix::framework;

constexpr std::string_view kMask = "****";

bool uri_form(std::string_view uri) {
  return uri.starts_with("postgresql://") || uri.starts_with("postgres://");
}

bool hex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Each part of a URI holding a %-sign that begins no escape of two hex
// digits is masked whole: such a part is often a password written as is.
std::string mask_malformed_escapes(std::string text) {
  constexpr std::string_view kDelimiters = "/?&=@:";
  for (std::size_t i = text.find('%'); i != std::string::npos; i = text.find('%', i + 1)) {
    if (i + 2 < text.size() && hex(text[i + 1]) && hex(text[i + 2])) continue;
    const std::size_t before = text.find_last_of(kDelimiters, i);
    const std::size_t begin = before == std::string::npos ? 0 : before + 1;
    const std::size_t after = text.find_first_of(kDelimiters, i);
    const std::size_t end = after == std::string::npos ? text.size() : after;
    text.replace(begin, end - begin, kMask);
    i = begin + kMask.size() - 1;
  }
  return text;
}

struct Parameter {
  std::string key;
  std::string value;
};

std::vector<Parameter> query_parameters(std::string_view query) {
  std::vector<Parameter> out;
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const std::size_t eq = pair.find('=');
    out.push_back({std::string(pair.substr(0, eq)), eq == std::string_view::npos
                                                        ? std::string()
                                                        : std::string(pair.substr(eq + 1))});
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return out;
}

std::chrono::seconds seconds_of(const std::string& key, const std::string& value,
                                const std::string& masked) {
  if (value.empty() || value.size() > 9 || !std::all_of(value.begin(), value.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
      })) {
    throw zf::ValueError("the `postgresql` URI in `DB` gives " + key + "=" + value +
                         ": a time-out is a whole number of seconds (" + masked + ")");
  }
  return std::chrono::seconds(std::stol(value));
}

// libpq's reason for refusing a connection string, without the part of it
// that it quotes (which may be a secret).
std::string reason_of(const char* error) {
  std::string reason = error != nullptr ? error : "";
  const std::size_t quote = reason.find('"');
  if (quote != std::string::npos) reason.resize(quote);
  while (!reason.empty() &&
         (reason.back() == ' ' || reason.back() == ':' || reason.back() == '\n')) {
    reason.pop_back();
  }
  return reason;
}

}  // namespace

std::string masked_uri(std::string_view uri) {
  std::string out(uri);
  if (uri_form(out)) {
    const std::size_t start = out.find("://") + 3;
    const std::size_t authority_end = std::min(out.find('/', start), out.find('?', start));
    const std::size_t at = out.rfind('@', authority_end);
    if (at != std::string::npos && at >= start) {
      const std::size_t colon = out.find(':', start);
      if (colon < at) out.replace(colon + 1, at - colon - 1, kMask);
    }
    const std::size_t question = out.find('?');
    if (question != std::string::npos) {
      std::string query;
      for (const auto& [key, value] :
           query_parameters(std::string_view(out).substr(question + 1))) {
        if (!query.empty()) query += '&';
        query += key + "=" + (key == "password" ? std::string(kMask) : value);
      }
      out.replace(question + 1, std::string::npos, query);
    }
    return mask_malformed_escapes(std::move(out));
  }
  for (std::size_t at = out.find("password"); at != std::string::npos;
       at = out.find("password", at + 1)) {
    std::size_t value = out.find_first_not_of(' ', at + 8);
    if (value == std::string::npos || out[value] != '=') continue;
    value = out.find_first_not_of(' ', value + 1);
    if (value == std::string::npos) break;
    const std::size_t end = out.find(' ', value);
    out.replace(value, (end == std::string::npos ? out.size() : end) - value, kMask);
  }
  return out;
}

ServerUri read_server_uri(const std::string& uri) {
  ServerUri out;
  out.masked = masked_uri(uri);
  bool connect_timeout = false;
  if (uri_form(uri)) {
    const std::size_t question = uri.find('?');
    out.conninfo = uri.substr(0, question);
    std::string query;
    if (question != std::string::npos) {
      for (const auto& [key, value] :
           query_parameters(std::string_view(uri).substr(question + 1))) {
        if (key == "statement_timeout") {
          out.statement_timeout = seconds_of(key, value, out.masked);
          continue;
        }
        if (key == "connect_timeout") {
          seconds_of(key, value, out.masked);
          connect_timeout = true;
        }
        if (!query.empty()) query += '&';
        query += key + "=" + value;
      }
    }
    if (!connect_timeout) {
      if (!query.empty()) query += '&';
      query += "connect_timeout=" + std::to_string(kConnectTimeout.count());
    }
    out.conninfo += "?" + query;
  } else {
    std::string rest;
    std::size_t from = 0;
    while (from < uri.size()) {
      const std::size_t end = std::min(uri.find(' ', from), uri.size());
      const std::string word = uri.substr(from, end - from);
      from = end + 1;
      if (word.starts_with("statement_timeout=")) {
        out.statement_timeout = seconds_of("statement_timeout", word.substr(18), out.masked);
        continue;
      }
      if (word.starts_with("connect_timeout=")) connect_timeout = true;
      if (!word.empty()) rest += (rest.empty() ? "" : " ") + word;
    }
    if (!connect_timeout) rest += " connect_timeout=" + std::to_string(kConnectTimeout.count());
    out.conninfo = rest;
  }

  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(out.conninfo.c_str(), &error);
  if (options == nullptr) {
    const std::string why = reason_of(error);
    PQfreemem(error);
    throw zf::ValueError("the `postgresql` URI in `DB` cannot be read: " + why + " (" + out.masked +
                         ")");
  }
  bool password = false;
  for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    if (std::strcmp(o->keyword, "password") == 0 && o->val != nullptr && o->val[0] != '\0') {
      password = true;
    }
  }
  PQconninfoFree(options);
  if (password) {
    throw zf::ValueError(
        "the `postgresql` URI in `DB` holds a password: give it through PGPASSWORD or "
        "~/.pgpass instead");
  }
  return out;
}

}  // namespace zantrix::plugins::sqlite3::detail
