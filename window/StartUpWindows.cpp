// Windows has none of these signals: a write to a closed pipe already fails.
#include "window/StartUp.h"

void StartUp::ignoreHangUps() { }
