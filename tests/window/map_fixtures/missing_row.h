#pragma once

// Not built: a map of the window without a row for Command1_Click, which the
// map check must notice.
//
// | Control  | Caption | Handler        | File                         |
// |----------|---------|----------------|------------------------------|
// | Command4 | ?       | Command4_Click | service/service_commands.cpp |
