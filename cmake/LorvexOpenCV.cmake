# OpenCV core, imgproc and imgcodecs as imported targets opencv_core,
# opencv_imgproc, opencv_imgcodecs. Debian's per-module -dev packages ship no
# CMake package file (only the heavy libopencv-dev does), so the libraries
# are found directly when OpenCVConfig.cmake is absent.
find_package(OpenCV QUIET COMPONENTS core imgproc imgcodecs)
if(OpenCV_FOUND)
  return()
endif()

find_path(LORVEX_OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
foreach(module core imgproc imgcodecs)
  find_library(LORVEX_OPENCV_${module}_LIBRARY opencv_${module} REQUIRED)
  add_library(opencv_${module} SHARED IMPORTED GLOBAL)
  set_target_properties(opencv_${module} PROPERTIES
    IMPORTED_LOCATION ${LORVEX_OPENCV_${module}_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${LORVEX_OPENCV_INCLUDE_DIR})
endforeach()
set_target_properties(opencv_imgproc PROPERTIES INTERFACE_LINK_LIBRARIES opencv_core)
set_target_properties(opencv_imgcodecs PROPERTIES INTERFACE_LINK_LIBRARIES "opencv_core;opencv_imgproc")
set(OpenCV_INCLUDE_DIRS ${LORVEX_OPENCV_INCLUDE_DIR})
set(OpenCV_LIBS opencv_core opencv_imgproc opencv_imgcodecs)
set(OpenCV_FOUND TRUE)
