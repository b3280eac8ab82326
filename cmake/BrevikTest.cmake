# brevik_add_test(NAME SOURCES ... [LIBS ...] [X11] [LABELS ...] [TIMEOUT s] [ENV ...])
# One CTest test per executable. Tests run offscreen with the real web engine;
# X11 tests run under their own Xvfb with a window manager (tests/support/with-x11).
function(brevik_add_test name)
  cmake_parse_arguments(T "X11" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE brevik_test_main ${T_LIBS})
  if(T_X11)
    add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/support/with-x11 $<TARGET_FILE:${name}>)
    set(platform xcb)
    list(APPEND T_LABELS x11)
  else()
    add_test(NAME ${name} COMMAND ${name})
    set(platform offscreen)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=${platform};QTWEBENGINE_DISABLE_SANDBOX=1;QT_QUICK_BACKEND=software;QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu;BREVIK_SOURCE_DIR=${PROJECT_SOURCE_DIR};BREVIK_BINARY_DIR=${PROJECT_BINARY_DIR};${T_ENV}")
endfunction()
