/* C enumerations and structures of the camera SDK that the C++ API and rsutil.h use. */
#ifndef LIBREALSENSE2_RS_H
#define LIBREALSENSE2_RS_H

#ifdef __cplusplus
extern "C" {
#endif

/* The numbers appear in the system's messages, so they are those of the vendor's SDK. */
typedef enum rs2_stream {
    RS2_STREAM_ANY = 0,
    RS2_STREAM_DEPTH = 1,
    RS2_STREAM_COLOR = 2,
    RS2_STREAM_INFRARED = 3,
    RS2_STREAM_FISHEYE = 4,
    RS2_STREAM_GYRO = 5,
    RS2_STREAM_ACCEL = 6,
    RS2_STREAM_GPIO = 7,
    RS2_STREAM_POSE = 8,
    RS2_STREAM_CONFIDENCE = 9
} rs2_stream;

typedef enum rs2_format {
    RS2_FORMAT_ANY = 0,
    RS2_FORMAT_Z16 = 1,
    RS2_FORMAT_RGB8 = 5,
    RS2_FORMAT_BGR8 = 6
} rs2_format;

typedef enum rs2_option {
    RS2_OPTION_VISUAL_PRESET = 12,
    RS2_OPTION_DEPTH_UNITS = 28,
    RS2_OPTION_MIN_DISTANCE = 33,
    RS2_OPTION_MAX_DISTANCE = 34
} rs2_option;

typedef enum rs2_camera_info {
    RS2_CAMERA_INFO_NAME = 0,
    RS2_CAMERA_INFO_SERIAL_NUMBER = 1
} rs2_camera_info;

typedef enum rs2_distortion {
    RS2_DISTORTION_NONE = 0,
    RS2_DISTORTION_BROWN_CONRADY = 4
} rs2_distortion;

typedef enum rs2_exception_type {
    RS2_EXCEPTION_TYPE_UNKNOWN = 0,
    RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED = 1,
    RS2_EXCEPTION_TYPE_INVALID_VALUE = 3,
    RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE = 4
} rs2_exception_type;

/* Pinhole parameters of a video stream, in pixels. */
typedef struct rs2_intrinsics {
    int width;
    int height;
    float ppx;
    float ppy;
    float fx;
    float fy;
    rs2_distortion model;
    float coeffs[5];
} rs2_intrinsics;

#ifdef __cplusplus
}
#endif

#endif
