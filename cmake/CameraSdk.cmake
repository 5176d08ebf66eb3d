# Chooses the camera SDK that the vision module builds against: the vendor's librealsense2 when
# it is installed (or demanded), otherwise the project's simulated camera under simcam/. Both
# are reached through the one target `camera_sdk` and the same include names, so the vision
# sources never know which one they got. STATION_SIMULATED_CAMERA tells the rest of the build
# (tests and tools that need the simulation controls).
set(_valid_sdk_choices AUTO REAL SIM)
set_property(CACHE STATION_CAMERA_SDK PROPERTY STRINGS ${_valid_sdk_choices})
if(NOT STATION_CAMERA_SDK IN_LIST _valid_sdk_choices)
  message(FATAL_ERROR "STATION_CAMERA_SDK must be AUTO, REAL or SIM, not '${STATION_CAMERA_SDK}'")
endif()

set(realsense2_FOUND FALSE)
if(STATION_CAMERA_SDK STREQUAL "REAL")
  find_package(realsense2 2.50 REQUIRED)
elseif(STATION_CAMERA_SDK STREQUAL "AUTO")
  find_package(realsense2 2.50 QUIET)
endif()

add_library(camera_sdk INTERFACE)
if(realsense2_FOUND)
  message(STATUS "Camera SDK: librealsense2 ${realsense2_VERSION}")
  target_link_libraries(camera_sdk INTERFACE realsense2::realsense2)
  set(STATION_SIMULATED_CAMERA OFF)
else()
  message(STATUS "Camera SDK: simulated camera (simcam)")
  add_subdirectory(${PROJECT_SOURCE_DIR}/simcam ${PROJECT_BINARY_DIR}/simcam)
  target_link_libraries(camera_sdk INTERFACE simcam)
  set(STATION_SIMULATED_CAMERA ON)
endif()
