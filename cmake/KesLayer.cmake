# kes_add_layer(<target> <folder>)
# One static library per layer. Every *.cpp of the folder belongs to it;
# platform-specific files are named *_posix.cpp / *_win.cpp and only the
# ones of the host platform are compiled. Sources are globbed so that
# adding a file never needs an edit here.
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
  # The moc step must run again when files join or leave the layer (a new
  # header may declare a Q_OBJECT). Its incremental stamp only watches the
  # files it scanned before, so the stamp is dropped when the list changes.
  string(REPLACE ";" "\n" _list "${_srcs}")
  set(_listFile ${CMAKE_CURRENT_BINARY_DIR}/${target}_sources.txt)
  set(_oldList "")
  if(EXISTS ${_listFile})
    file(READ ${_listFile} _oldList)
  endif()
  if(NOT _oldList STREQUAL _list)
    file(WRITE ${_listFile} "${_list}")
    file(REMOVE ${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/timestamp)
  endif()
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PUBLIC kes_options)
endfunction()
