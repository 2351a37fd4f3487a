#pragma once

#include <string>

namespace brisklet {

// A time as people read it on screen: "%d:%02d" of the rounded seconds, no hours ("75:03").
std::string formatMinutesSeconds(double seconds);

}  // namespace brisklet
