#pragma once

namespace logging {

// The wide name written for any level value, by ranges ("info" for 41 to 72).
const wchar_t* LevelName(int level);

}  // namespace logging
