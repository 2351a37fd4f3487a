#pragma once

#include <stdexcept>
#include <string_view>

#include "app/AppState.h"

namespace brisklet {

// No project, or more than one, answers to the id given; what() says which.
class ProjectLookupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The project named by its full id or by any unique prefix of it, in either case.
const Project& findProject(const AppState& state, std::string_view idOrPrefix);

}  // namespace brisklet
