# lorvex_add_test(NAME <name> SOURCES <files...> [LIBS <targets...>] [TIMEOUT <s>] [LABELS <l...>])
# One test executable under ctest. Qt's AUTOMOC runs on its sources, so a
# QtTest file may end with #include "<name>.moc". Every test runs with the
# offscreen Qt platform and the build's plug-in folder in LORVEX_PLUGIN_DIR.
function(lorvex_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(LORVEX_SANITIZER STREQUAL "thread")
    # Makes the ordering of Qt's mutexes and futures visible to ThreadSanitizer.
    list(APPEND T_SOURCES ${CMAKE_SOURCE_DIR}/tests/sanitizers/tsan_qt_sync.cpp)
    list(APPEND T_LIBS ${CMAKE_DL_LIBS})
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  set_target_properties(${T_NAME} PROPERTIES AUTOMOC ON RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${T_NAME} PRIVATE Qt5::Test Qt5::Core Threads::Threads ${T_LIBS})
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LORVEX_PLUGIN_DIR=${CMAKE_BINARY_DIR}/Plugins/Cameras;LORVEX_SOURCE_DIR=${CMAKE_SOURCE_DIR};LORVEX_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
