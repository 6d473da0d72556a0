// The demo scene: a small street (ground, road, houses with roofs and doors, translucent glass)
// framed by the start camera, written as DIR/nyc.map with CR LF line ends and its texture
// folder DIR/nyc/ of 32-bit TGA images made in code. Deterministic: same count, same bytes.
#pragma once

#include <cstdint>
#include <string>

// Quads of the demo scene itself; larger counts add a far-off city drawn first.
int64_t DemoBaseQuadCount();

// The quad-list path inside `dir`.
std::string DemoQuadListPath(const std::string& dir);

// Writes the scene with exactly `quads` quads into `dir` (created if missing), as one: an
// existing scene there is refused unless `force`, and a failure leaves none of it. Throws
// SceneError at the first file or folder that cannot be written.
void WriteDemoScene(const std::string& dir, int64_t quads, bool force);
