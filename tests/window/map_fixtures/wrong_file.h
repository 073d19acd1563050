#pragma once

// Not built: a map of the window with a row the map check must refuse.
//
// | Control  | Caption | Handler        | File                 |
// |----------|---------|----------------|----------------------|
// | Command4 | ?       | Command4_Click | transfer/install.cpp |
