# One static library per source area: every .cpp/.h in the folder (and the
# subfolders given) belongs to it, so adding a file needs no CMake edit.
#
# An area's headers are visible only to the area itself and to what links it:
# each area gets an include root in the build tree holding links to its own
# headers, so an #include of an area not linked fails to compile.
#
# brevik_area(name [DIR folder] [SUBDIRS sub...] [EXCLUDE file...] [LIBS lib...])
#   DIR: the area's folder below the current one (default: the current one).
function(brevik_area name)
  cmake_parse_arguments(A "" "DIR" "SUBDIRS;EXCLUDE;LIBS" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  if(A_DIR)
    set(dir ${dir}/${A_DIR})
  endif()
  set(folders ${dir})
  foreach(sub IN LISTS A_SUBDIRS)
    list(APPEND folders ${dir}/${sub})
  endforeach()
  set(sources)
  foreach(folder IN LISTS folders)
    file(GLOB found CONFIGURE_DEPENDS ${folder}/*.cpp ${folder}/*.h)
    list(APPEND sources ${found})
  endforeach()
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  foreach(file IN LISTS A_EXCLUDE)
    list(REMOVE_ITEM sources ${dir}/${file})
  endforeach()
  add_library(${name} STATIC ${sources})
  target_link_libraries(${name} PUBLIC ${A_LIBS})
  brevik_expose(${name} ${sources})
endfunction()

# Makes the headers among files includable as "<path below src>/X.h" by
# target and by everything that links it.
function(brevik_expose target)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root}) # no link left to a header that has gone
  foreach(file IN LISTS ARGN)
    if(file MATCHES "\\.h$")
      file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/src ${file})
      get_filename_component(parent ${root}/${rel} DIRECTORY)
      file(MAKE_DIRECTORY ${parent})
      file(CREATE_LINK ${file} ${root}/${rel} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
