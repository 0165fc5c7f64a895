#include "connection_text.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>

#include "dbplatform/error.h"
#include "error_mapping.h"
#include "path_lookup.h"

namespace dbplatform {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         EqualIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

bool IsAcceptedProvider(std::string_view provider) {
  return EqualIgnoringAsciiCase(provider, "SQLOLEDB") ||
         EqualIgnoringAsciiCase(provider, "SQLOLEDB.1") ||
         StartsWithIgnoringCase(provider, "SQLNCLI") ||
         StartsWithIgnoringCase(provider, "MSOLEDBSQL");
}

bool IsTrue(std::string_view value) {
  return EqualIgnoringAsciiCase(value, "SSPI") || EqualIgnoringAsciiCase(value, "true") ||
         EqualIgnoringAsciiCase(value, "yes");
}

const std::string* Find(const std::map<std::string, std::string>& pairs,
                        std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    auto found = pairs.find(key);
    if (found != pairs.end()) return &found->second;
  }
  return nullptr;
}

std::string OdbcValue(const std::string& value) {
  bool plain = value.find_first_of(";{}=") == std::string::npos &&
               (value.empty() || (!std::isspace(static_cast<unsigned char>(value.front())) &&
                                  !std::isspace(static_cast<unsigned char>(value.back()))));
  if (plain) return value;
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

}  // namespace

std::map<std::string, std::string> ParseConnectionText(std::string_view text) {
  std::map<std::string, std::string> pairs;
  std::size_t at = 0;
  while (at < text.size()) {
    // Key: up to a single "="; "==" stands for an "=" inside the key.
    std::string key;
    while (at < text.size() && text[at] != ';') {
      if (text[at] == '=') {
        if (at + 1 < text.size() && text[at + 1] == '=') {
          key += '=';
          at += 2;
          continue;
        }
        break;
      }
      key += text[at++];
    }
    std::string value;
    if (at < text.size() && text[at] == '=') {
      ++at;
      while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
      if (at < text.size() && (text[at] == '"' || text[at] == '\'')) {
        char quote = text[at++];
        while (at < text.size()) {
          if (text[at] == quote) {
            if (at + 1 < text.size() && text[at + 1] == quote) {
              value += quote;
              at += 2;
              continue;
            }
            ++at;
            break;
          }
          value += text[at++];
        }
        while (at < text.size() && text[at] != ';') ++at;
      } else {
        std::size_t end = text.find(';', at);
        if (end == std::string_view::npos) end = text.size();
        value = std::string(Trim(text.substr(at, end - at)));
        at = end;
      }
    }
    if (at < text.size() && text[at] == ';') ++at;
    std::string_view trimmed_key = Trim(key);
    if (!trimmed_key.empty()) pairs[Lower(trimmed_key)] = value;
  }
  return pairs;
}

bool IsThisComputer(std::string_view host) {
  if (host.empty() || host == "." || EqualIgnoringAsciiCase(host, "(local)") ||
      EqualIgnoringAsciiCase(host, "localhost")) {
    return true;
  }
  std::string name(host);
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  }
  in_addr v4;
  if (inet_pton(AF_INET, name.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6;
  if (inet_pton(AF_INET6, name.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  char own[256] = {};
  if (gethostname(own, sizeof own - 1) != 0) return false;
  std::string_view own_name(own);
  std::string_view own_short = own_name.substr(0, own_name.find('.'));
  return EqualIgnoringAsciiCase(host, own_name) || EqualIgnoringAsciiCase(host, own_short);
}

bool ApplyServerName(std::string_view server, OdbcLogin& login) {
  server = Trim(server);
  if (StartsWithIgnoringCase(server, "tcp:")) server.remove_prefix(4);
  std::string_view host = server;
  login.port = 0;
  if (std::size_t comma = server.find(','); comma != std::string_view::npos) {
    host = server.substr(0, comma);
    std::string_view port_text = Trim(server.substr(comma + 1));
    int port = 0;
    auto [end, error] =
        std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
    if (error != std::errc() || end != port_text.data() + port_text.size() || port <= 0 ||
        port > 65535) {
      return false;
    }
    login.port = port;
  }
  host = Trim(host);
  login.instance.clear();
  if (std::size_t slash = host.find('\\'); slash != std::string_view::npos) {
    login.instance = std::string(host.substr(slash + 1));
    host = host.substr(0, slash);
  }
  login.host = IsThisComputer(host) ? "127.0.0.1" : std::string(host);
  return true;
}

OdbcLogin LoginFromConnectionText(std::string_view text) {
  std::map<std::string, std::string> pairs = ParseConnectionText(text);
  if (const std::string* provider = Find(pairs, {"provider"})) {
    if (!IsAcceptedProvider(*provider)) {
      throw Error(kAdoProviderNotFound,
                  "Provider cannot be found. It may not be properly installed.");
    }
  }
  OdbcLogin login;
  const std::string* server =
      Find(pairs, {"data source", "server", "address", "addr", "network address"});
  if (!ApplyServerName(server ? *server : std::string(), login)) throw UnreachableServerError();
  if (const std::string* database = Find(pairs, {"initial catalog", "database"})) {
    login.database = *database;
  }
  if (const std::string* user = Find(pairs, {"user id", "uid", "user"})) login.user = *user;
  if (const std::string* password = Find(pairs, {"password", "pwd"})) login.password = *password;
  if (const std::string* integrated = Find(pairs, {"integrated security", "trusted_connection"})) {
    login.trusted = IsTrue(*integrated);
  }
  if (const std::string* timeout = Find(pairs, {"connect timeout", "connection timeout"})) {
    login.login_timeout = std::max(0, std::atoi(timeout->c_str()));
  }
  return login;
}

std::string DriverConnectionText(const OdbcLogin& login) {
  const char* driver = std::getenv("DBPLATFORM_ODBC_DRIVER");
  std::string driver_name = (driver != nullptr && *driver != '\0') ? driver : "FreeTDS";
  std::string text = "DRIVER={" + driver_name + "};SERVER=";
  std::string server = login.host;
  if (!login.instance.empty()) server += "\\" + login.instance;
  text += OdbcValue(server) + ";";
  if (login.port > 0) text += "PORT=" + std::to_string(login.port) + ";";
  if (!login.database.empty()) text += "DATABASE=" + OdbcValue(login.database) + ";";
  if (login.trusted) {
    text += "Trusted_Connection=Yes;";
  } else {
    text += "UID=" + OdbcValue(login.user) + ";PWD=" + OdbcValue(login.password) + ";";
  }
  text += "ClientCharset=UTF-8;";
  // A fixed version turns off the driver's fallback to the Sybase protocol,
  // which waits without a time-out on a server that never answers; servers
  // still negotiate down to the version they speak.
  if (EqualIgnoringAsciiCase(driver_name, "FreeTDS")) text += "TDS_Version=7.4;";
  return text;
}

}  // namespace dbplatform
