// FitCamera: the frame renderer's transform is eye = R * (Ry(180) * p + t), with
// R = mirror(x) * Rx(-tilt) * Rz(spin). R is orthogonal, so any eye-space offset w is reached
// by the translation t = R^T * w: the corners are turned into eye space once, their bounds
// centred, and the distance set so that the nearest face of the bounds fills the frustum.
#include "render/camera_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMargin = 1.1;         // the bounds take at most this part of the view, inverted
constexpr double kPointDistance = 1.0;  // for a scene whose corners all lie on one point

using Matrix = double[3][3];

// R = mirror(x) * Rx(-tilt) * Rz(spin), as glScalef and glRotatef compose them.
void CameraRotation(const CameraState& camera, Matrix r) {
  const double tilt = -static_cast<double>(camera.tilt) * kPi / 180.0;
  const double spin = static_cast<double>(camera.spin) * kPi / 180.0;
  const double ct = std::cos(tilt), st = std::sin(tilt), cs = std::cos(spin), ss = std::sin(spin);
  const Matrix rx = {{1, 0, 0}, {0, ct, -st}, {0, st, ct}};
  const Matrix rz = {{cs, -ss, 0}, {ss, cs, 0}, {0, 0, 1}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) sum += rx[i][k] * rz[k][j];
      r[i][j] = i == 0 ? -sum : sum;
    }
  }
}

}  // namespace

CameraState FitCamera(const CameraState& camera, const QuadRecord* records, size_t count, int width,
                      int height, double viewShare) {
  Matrix r;
  CameraRotation(camera, r);
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  double low[3] = {kInfinity, kInfinity, kInfinity}, high[3] = {-kInfinity, -kInfinity, -kInfinity};
  for (size_t index = 0; index < count; ++index) {
    for (const QuadCorner& corner : records[index].corners) {
      const float x = corner.x, y = corner.y, z = corner.z;
      if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) continue;
      const double p[3] = {-static_cast<double>(x), y,
                           -static_cast<double>(z)};  // half turn about y
      for (int i = 0; i < 3; ++i) {
        const double q = r[i][0] * p[0] + r[i][1] * p[1] + r[i][2] * p[2];
        low[i] = std::min(low[i], q);
        high[i] = std::max(high[i], q);
      }
    }
  }
  if (!(low[0] <= high[0])) return camera;
  const double tanHalf = std::tan(kFieldOfViewDegrees * kPi / 360.0);
  const double aspect = static_cast<double>(width) / static_cast<double>(height);
  double distance =
      std::max((high[0] - low[0]) / 2 / (tanHalf * aspect), (high[1] - low[1]) / 2 / tanHalf) /
      viewShare;
  if (!(distance > 0)) distance = kPointDistance;
  const double w[3] = {-(low[0] + high[0]) / 2, -(low[1] + high[1]) / 2, -high[2] - distance};
  double t[3];
  for (int i = 0; i < 3; ++i) t[i] = r[0][i] * w[0] + r[1][i] * w[1] + r[2][i] * w[2];
  constexpr double kFloatMax = std::numeric_limits<float>::max();
  for (const double value : t) {
    if (!(std::fabs(value) <= kFloatMax)) return camera;
  }
  CameraState fitted = camera;
  fitted.panX = static_cast<float>(t[0]);
  fitted.panY = static_cast<float>(t[1]);
  fitted.distance = static_cast<float>(t[2]);
  return fitted;
}

CameraState FitCamera(const CameraState& camera, const QuadTable& quads, int width, int height) {
  return FitCamera(camera, quads.records.data(), DrawnQuadCount(quads), width, height,
                   kFitViewShare);
}
