# brevik_add_test(NAME SOURCES ... [LIBS ...] [X11] [WMS wm...] [CUPS] [LABELS ...] [TIMEOUT s] [ENV ...])
# One CTest test per executable. Tests run offscreen with the real web engine;
# X11 tests run under their own Xvfb with a window manager (tests/support/with-x11),
# once per window manager named in WMS (default openbox). CUPS: with a private
# print server whose default printer makes PDF files (tests/support/with-cups).
function(brevik_add_test name)
  cmake_parse_arguments(T "X11;CUPS" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV;WMS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE brevik_test_main ${T_LIBS})
  set(prefix)
  if(T_CUPS)
    set(prefix ${PROJECT_SOURCE_DIR}/tests/support/with-cups)
  endif()
  set(tests)
  if(T_X11)
    if(NOT T_WMS)
      set(T_WMS openbox)
    endif()
    list(LENGTH T_WMS count)
    foreach(wm IN LISTS T_WMS)
      set(test ${name})
      if(count GREATER 1)
        set(test ${name}_${wm})
      endif()
      add_test(NAME ${test} COMMAND ${prefix} ${PROJECT_SOURCE_DIR}/tests/support/with-x11 --wm ${wm}
               $<TARGET_FILE:${name}>)
      list(APPEND tests ${test})
    endforeach()
    set(platform xcb)
    list(APPEND T_LABELS x11)
  else()
    add_test(NAME ${name} COMMAND ${prefix} ${name})
    list(APPEND tests ${name})
    set(platform offscreen)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${tests} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=${platform};QTWEBENGINE_DISABLE_SANDBOX=1;QT_QUICK_BACKEND=software;QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu;BREVIK_SOURCE_DIR=${PROJECT_SOURCE_DIR};BREVIK_BINARY_DIR=${PROJECT_BINARY_DIR};${T_ENV}")
endfunction()
