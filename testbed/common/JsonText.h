// Text as a JSON string, for the records the robot and e2e_check print (one
// JSON object a line). Bytes above 127 pass as they are: the robot's texts
// are UTF-8 already, the checker's paths are ASCII.
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

namespace testbed {

inline std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

inline std::string JsonText(const std::vector<std::string>& texts) {
  std::string out = "[";
  for (const std::string& t : texts) out += (out.size() > 1 ? "," : "") + JsonText(t);
  return out + "]";
}

// "name":value, the value already JSON.
inline std::string JsonField(const char* name, const std::string& value) {
  return JsonText(name) + ":" + value;
}

}  // namespace testbed
