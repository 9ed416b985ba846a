# Makes the folder tree with links to folders that the Windows walker tests read:
#   cmake -DROOT=<folder> -P MakeLinkTree.cmake
# It is made on the build host because Wine cannot make such links itself; it shows links made on
# the host as folders with a reparse point, as Windows shows junctions. Natively on Windows the
# links are junctions, which need no special rights.

if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()

file(REMOVE_RECURSE "${ROOT}")
file(MAKE_DIRECTORY "${ROOT}/R/A/deep" "${ROOT}/R/B")
file(WRITE "${ROOT}/R/A/x.txt" "x")
file(WRITE "${ROOT}/R/A/deep/z.txt" "z")
file(WRITE "${ROOT}/R/B/y.txt" "y")

function(folder_link link target)
  if(CMAKE_HOST_WIN32)
    file(TO_NATIVE_PATH "${link}" native_link)
    file(TO_NATIVE_PATH "${target}" native_target)
    execute_process(COMMAND cmd /c mklink /J "${native_link}" "${native_target}"
                    RESULT_VARIABLE failed OUTPUT_QUIET)
  else()
    file(CREATE_LINK "${target}" "${link}" SYMBOLIC RESULT failed)
  endif()
  if(failed)
    message(FATAL_ERROR "cannot link ${link} to ${target}: ${failed}")
  endif()
endfunction()

# Cycles: back to the top, to the parent, to the folder itself.
folder_link("${ROOT}/R/loop" "${ROOT}/R")
folder_link("${ROOT}/R/A/up" "${ROOT}/R")
folder_link("${ROOT}/R/B/self" "${ROOT}/R/B")
# Second ways into folders the walk reaches anyway.
folder_link("${ROOT}/R/L" "${ROOT}/R/A")
folder_link("${ROOT}/R/B/L2" "${ROOT}/R/A/deep")
