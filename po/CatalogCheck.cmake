# Regenerates the translation templates from the sources and fails when a
# catalogue misses a text of its template (absent or untranslated).
#
#   cmake -DSRC=<source tree> -DOUT=<folder for the .pot files>
#         -DXGETTEXT=<xgettext> [-DMSGMERGE=<msgmerge>] [-DUPDATE=ON]
#         -P po/CatalogCheck.cmake
#
# Domains, their sources and the marks extracted:
#   Units    src/platform src/frame src/fileengine src/ui   U_ N_ TrU
#   selwand  src/watchdog src/app/selwand (with its forms)   _ N_ Tr
#   marvick  src/planner src/app/marvick (with its forms)    _ N_ Tr
# The texts of Designer forms (*.ui: every <string> not marked notr) are
# written into a generated C++ file of _() marks that joins the sources of
# the form's domain. Catalogues: po/<domain>/<language>.po. With UPDATE=ON every catalogue is
# first brought up to date with msgmerge (new texts appear untranslated).
cmake_minimum_required(VERSION 3.25)

foreach(_var SRC OUT XGETTEXT)
  if(NOT DEFINED ${_var} OR "${${_var}}" STREQUAL "")
    message(FATAL_ERROR "CatalogCheck: ${_var} is not set")
  endif()
endforeach()
if(NOT MSGMERGE)
  find_program(MSGMERGE msgmerge)
endif()
get_filename_component(_toolDir "${XGETTEXT}" DIRECTORY)
find_program(MSGATTRIB msgattrib HINTS "${_toolDir}")
if(NOT MSGMERGE OR NOT MSGATTRIB)
  message(FATAL_ERROR "CatalogCheck: msgmerge and msgattrib (GNU gettext) are needed")
endif()

# The msgids of a PO text (a long one may go on over several lines),
# without the header entry.
function(_msgids text out)
  string(REGEX MATCHALL "msgid \"[^\n]*\"(\n\"[^\n]*\")*" _ids "${text}")
  set(_list)
  foreach(_id IN LISTS _ids)
    if(NOT _id STREQUAL "msgid \"\"")
      string(REGEX REPLACE "^msgid " "" _id "${_id}")
      string(REPLACE "\"\n\"" "" _id "${_id}")
      list(APPEND _list "${_id}")
    endif()
  endforeach()
  set(${out} "${_list}" PARENT_SCOPE)
endfunction()

set(_Units_dirs src/platform src/frame src/fileengine src/ui)
set(_Units_files src/app/kescopy.cpp src/app/kestask.cpp)
set(_Units_keywords U_ N_ TrU)
set(_selwand_dirs src/watchdog src/app/selwand)
set(_selwand_files)
set(_selwand_forms src/app/selwand)
set(_selwand_keywords _ N_ Tr)
set(_marvick_dirs src/planner src/app/marvick)
set(_marvick_files)
set(_marvick_forms src/app/marvick)
set(_marvick_keywords _ N_ Tr)

# The texts of the forms below the folders, as a C++ file of _() marks.
function(_form_texts domain out)
  set(_marks "// Generated from the Designer forms: their texts for xgettext.\n")
  foreach(_dir IN LISTS _${domain}_forms)
    file(GLOB_RECURSE _forms RELATIVE "${SRC}" "${SRC}/${_dir}/*.ui")
    list(SORT _forms)
    foreach(_form IN LISTS _forms)
      file(READ "${SRC}/${_form}" _xml)
      # A ";" would split the list of matches (entities end with one).
      string(REPLACE ";" "@SEMI@" _xml "${_xml}")
      string(REGEX MATCHALL "<string>[^<]*</string>" _strings "${_xml}")
      foreach(_s IN LISTS _strings)
        string(REGEX REPLACE "^<string>(.*)</string>$" "\\1" _t "${_s}")
        if(_t STREQUAL "")
          continue()
        endif()
        string(REPLACE "&lt@SEMI@" "<" _t "${_t}")
        string(REPLACE "&gt@SEMI@" ">" _t "${_t}")
        string(REPLACE "&quot@SEMI@" "\"" _t "${_t}")
        string(REPLACE "&apos@SEMI@" "'" _t "${_t}")
        string(REPLACE "&amp@SEMI@" "&" _t "${_t}")
        string(REPLACE "@SEMI@" ";" _t "${_t}")
        string(REPLACE "\\" "\\\\" _t "${_t}")
        string(REPLACE "\"" "\\\"" _t "${_t}")
        string(APPEND _marks "_(\"${_t}\"); // ${_form}\n")
      endforeach()
    endforeach()
  endforeach()
  file(WRITE "${out}" "${_marks}")
endfunction()

file(MAKE_DIRECTORY "${OUT}")
set(_failed)
foreach(_domain Units selwand marvick)
  set(_sources)
  foreach(_dir IN LISTS _${_domain}_dirs)
    file(GLOB_RECURSE _found RELATIVE "${SRC}" "${SRC}/${_dir}/*.cpp" "${SRC}/${_dir}/*.h")
    list(APPEND _sources ${_found})
  endforeach()
  foreach(_file IN LISTS _${_domain}_files)
    if(EXISTS "${SRC}/${_file}")
      list(APPEND _sources ${_file})
    endif()
  endforeach()
  list(SORT _sources)
  if(_${_domain}_forms)
    set(_formFile "${OUT}/${_domain}-forms.cpp")
    _form_texts(${_domain} "${_formFile}")
    list(APPEND _sources "${_formFile}")
  endif()
  set(_keywordArgs -k)
  foreach(_k IN LISTS _${_domain}_keywords)
    list(APPEND _keywordArgs --keyword=${_k})
  endforeach()
  set(_pot "${OUT}/${_domain}.pot")
  file(REMOVE "${_pot}")
  if(_sources)
    execute_process(
      COMMAND "${XGETTEXT}" --language=C++ --from-code=UTF-8 --force-po --sort-by-file
              --add-comments=TRANSLATORS: --package-name=Kestrup ${_keywordArgs}
              -o "${_pot}" ${_sources}
      WORKING_DIRECTORY "${SRC}"
      RESULT_VARIABLE _rc
      ERROR_VARIABLE _err)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "CatalogCheck: xgettext failed for ${_domain}:\n${_err}")
    endif()
  endif()
  file(GLOB _catalogues "${SRC}/po/${_domain}/*.po")
  foreach(_po IN LISTS _catalogues)
    if(NOT EXISTS "${_pot}")
      continue()
    endif()
    if(UPDATE AND MSGMERGE)
      execute_process(COMMAND "${MSGMERGE}" --quiet --update --backup=none --no-fuzzy-matching "${_po}" "${_pot}"
                      RESULT_VARIABLE _rc)
      if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "CatalogCheck: msgmerge failed for ${_po}")
      endif()
    endif()
    # The catalogue as it would be for the current template; what is left
    # untranslated or fuzzy there is missing.
    get_filename_component(_lang "${_po}" NAME_WE)
    set(_merged "${OUT}/${_domain}-${_lang}.po")
    execute_process(COMMAND "${MSGMERGE}" --quiet --no-fuzzy-matching -o "${_merged}" "${_po}" "${_pot}"
                    RESULT_VARIABLE _rc ERROR_VARIABLE _err)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "CatalogCheck: msgmerge failed for ${_po}:\n${_err}")
    endif()
    set(_missing)
    foreach(_which --untranslated --only-fuzzy)
      execute_process(COMMAND "${MSGATTRIB}" ${_which} --no-obsolete --no-location --no-wrap "${_merged}"
                      OUTPUT_VARIABLE _out RESULT_VARIABLE _rc)
      _msgids("${_out}" _ids)
      list(APPEND _missing ${_ids})
    endforeach()
    file(RELATIVE_PATH _rel "${SRC}" "${_po}")
    if(_missing)
      list(JOIN _missing "\n  " _text)
      message("${_rel} misses texts of ${_domain}.pot:\n  ${_text}")
      list(APPEND _failed ${_rel})
    else()
      message(STATUS "${_rel}: complete")
    endif()
  endforeach()
endforeach()

if(_failed)
  message(FATAL_ERROR "CatalogCheck: incomplete catalogues: ${_failed}")
endif()
