#include "model/Uuid.h"

#include <uuid/uuid.h>

#include <algorithm>

namespace brisklet {

Uuid Uuid::random() {
  Uuid uuid;
  uuid_generate_random(uuid.bytes.data());
  return uuid;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
  // libuuid reads the 36-character form only after checking length and hyphen places.
  if (text.size() != 36) return std::nullopt;
  char terminated[37];
  std::copy(text.begin(), text.end(), terminated);
  terminated[36] = '\0';
  Uuid uuid;
  if (uuid_parse(terminated, uuid.bytes.data()) != 0) return std::nullopt;
  return uuid;
}

std::string Uuid::text() const {
  char text[37];
  uuid_unparse_upper(bytes.data(), text);
  return text;
}

}  // namespace brisklet
