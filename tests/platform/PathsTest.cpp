#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/Paths.h"

namespace brisklet {
namespace {

// Sets a variable for one scope and restores it afterwards.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedVariable() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(Paths, FollowTheXdgVariablesAndFallBackBelowHome) {
  ScopedVariable home("HOME", "/srv/someone");
  {
    ScopedVariable data("XDG_DATA_HOME", "/data");
    ScopedVariable config("XDG_CONFIG_HOME", "/config");
    EXPECT_EQ(applicationDataFolder(), "/data/Brisklet");
    EXPECT_EQ(applicationConfigFolder(), "/config/Brisklet");
  }
  for (const char* unusable : {static_cast<const char*>(nullptr), "", "relative/path"}) {
    ScopedVariable data("XDG_DATA_HOME", unusable);
    ScopedVariable config("XDG_CONFIG_HOME", unusable);
    EXPECT_EQ(dataHome(), "/srv/someone/.local/share");
    EXPECT_EQ(configHome(), "/srv/someone/.config");
  }
}

}  // namespace
}  // namespace brisklet
