#pragma once

#include <string>
#include <string_view>

namespace tallimo {

// The name under which the running window of one program folder can be
// found: the same folder gives the same name on every start, another folder
// another name. `folder` is the canonical path, in UTF-8.
std::string instanceName(std::string_view folder);

}  // namespace tallimo
