#include "url/tbwurl.h"

std::string URLHost(const std::string& url) {
  std::string s = url;
  for (auto& c : s)
    if (c == '\\') c = '/';
  if (const auto p = s.find("://"); p != std::string::npos) s.erase(0, p + 3);
  std::string host = s.substr(0, s.find_first_of("/:"));
  return host == "." ? std::string() : host;
}
