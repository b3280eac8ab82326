# One static library per source area: every .cpp/.h/.ui in the folder (and the
# subfolders given) belongs to it, so adding a file needs no CMake edit.
function(brevik_area name)
  cmake_parse_arguments(A "" "" "SUBDIRS;LIBS" ${ARGN})
  set(globs ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.ui)
  foreach(sub IN LISTS A_SUBDIRS)
    list(APPEND globs ${CMAKE_CURRENT_SOURCE_DIR}/${sub}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${sub}/*.h
         ${CMAKE_CURRENT_SOURCE_DIR}/${sub}/*.ui)
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${globs})
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${A_LIBS})
endfunction()
