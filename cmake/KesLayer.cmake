# kes_add_layer(<target> <folder>)
# One static library per layer. Every *.cpp of the folder belongs to it;
# platform-specific files are named *_posix.cpp / *_win.cpp and only the
# ones of the host platform are compiled. Sources are globbed so that
# adding a file never needs an edit here (kes_moc_follows_files below
# keeps moc up to date with them).
function(kes_add_layer target)
  file(GLOB _all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  set(_srcs)
  foreach(_f IN LISTS _all)
    if(_f MATCHES "_win\\.cpp$")
      if(WIN32)
        list(APPEND _srcs ${_f})
      endif()
    elseif(_f MATCHES "_posix\\.cpp$")
      if(UNIX)
        list(APPEND _srcs ${_f})
      endif()
    else()
      list(APPEND _srcs ${_f})
    endif()
  endforeach()
  if(NOT _srcs MATCHES "\\.cpp")
    # A layer that has no code yet still links.
    set(_empty ${CMAKE_CURRENT_BINARY_DIR}/${target}_empty.cpp)
    file(WRITE ${_empty} "// empty layer\n")
    list(APPEND _srcs ${_empty})
  endif()
  add_library(${target} STATIC ${_srcs})
  kes_moc_follows_files(${target} "${_srcs}")
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PUBLIC kes_options)
endfunction()

# kes_moc_follows_files(<target> <files>)
# The moc step of a target must run again when files join or leave it (a
# new header may declare a Q_OBJECT), but it only watches the files it
# scanned before and the folder's list files. So the target's file list is
# kept in a list file of the folder, rewritten only when it changes.
function(kes_moc_follows_files target files)
  set(_listFile ${CMAKE_CURRENT_BINARY_DIR}/${target}_sources.cmake)
  set(_list "# The files of ${target} when the build was configured.\n")
  foreach(_f IN LISTS files)
    string(APPEND _list "# ${_f}\n")
  endforeach()
  set(_oldList "")
  if(EXISTS ${_listFile})
    file(READ ${_listFile} _oldList)
  endif()
  if(NOT _oldList STREQUAL _list)
    file(WRITE ${_listFile} "${_list}")
  endif()
  include(${_listFile})
endfunction()
