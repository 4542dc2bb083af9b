# cmake -DSOURCE_DIR=... -DWORK_DIR=... -DHEADER=... -DSDK_LIBRARY=... -DGENERATOR=...
#       [-DCXX_COMPILER=...] [-DCOMPILER_LAUNCHER=...]
#       -P buildagainst.cmake
# Assembles an SDK root in WORK_DIR/root from HEADER (as include/MVCameraControl.h)
# and SDK_LIBRARY (in lib/), then configures the project in WORK_DIR/build against
# that root with tests, tools and benchmarks off and builds the plug-in alone.
# Files are copied only when they changed, so a second run rebuilds only what did.
foreach(required SOURCE_DIR WORK_DIR HEADER SDK_LIBRARY GENERATOR)
  if(NOT ${required})
    message(FATAL_ERROR "buildagainst.cmake: ${required} is not set")
  endif()
endforeach()

set(root ${WORK_DIR}/root)
set(build ${WORK_DIR}/build)
get_filename_component(library_name ${SDK_LIBRARY} NAME)
configure_file(${HEADER} ${root}/include/MVCameraControl.h COPYONLY)
configure_file(${SDK_LIBRARY} ${root}/lib/${library_name} COPYONLY)

set(configure_args -S ${SOURCE_DIR} -B ${build} -G ${GENERATOR}
  -DCMAKE_BUILD_TYPE=Release -DMVCAMERACONTROL_ROOT=${root}
  -DLORVEX_BUILD_TESTS=OFF -DLORVEX_BUILD_TOOLS=OFF -DLORVEX_BUILD_BENCH=OFF)
# The outer tree's compiler, so that both trees compile alike.
if(CXX_COMPILER)
  list(APPEND configure_args -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
endif()
if(COMPILER_LAUNCHER)
  list(APPEND configure_args -DCMAKE_CXX_COMPILER_LAUNCHER=${COMPILER_LAUNCHER})
endif()

execute_process(COMMAND ${CMAKE_COMMAND} ${configure_args} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "configuring the plug-in against ${root} failed")
endif()

# Two jobs at most: the test runs while other builds share the machine.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} --target CameraLorvex --parallel 2
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the plug-in does not build against ${root}: it uses an SDK name "
    "that ${HEADER} does not declare (see the compiler's messages above)")
endif()
message(STATUS "the plug-in builds against ${root}")
