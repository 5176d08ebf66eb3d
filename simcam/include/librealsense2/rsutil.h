/* Pixel geometry helpers of the camera SDK. */
#ifndef LIBREALSENSE2_RSUTIL_H
#define LIBREALSENSE2_RSUTIL_H

#include "rs.h"

/* The point in camera space (same unit as `depth`) that `pixel` shows at `depth`. The cameras
   behind this library report no lens distortion (Brown-Conrady with all coefficients 0), so the
   pinhole model is exact for every stream they deliver. */
static inline void rs2_deproject_pixel_to_point(float point[3], const struct rs2_intrinsics* intrin,
                                                const float pixel[2], float depth) {
    const float x = (pixel[0] - intrin->ppx) / intrin->fx;
    const float y = (pixel[1] - intrin->ppy) / intrin->fy;
    point[0] = depth * x;
    point[1] = depth * y;
    point[2] = depth;
}

#endif
