# The folders are layers: platform/ and pdf/ at the bottom, then filters/ and
# crypt/ (each needing only those two), load/, image/, document/, write/,
# font/, page/, text/, stamp/ and app/. Each layer's library compiles
# against an include root of its own that holds links to its own folder and to
# the folders below it, and to nothing else, so that including a header of a
# higher layer fails to compile instead of holding by discipline.

set(VELLICO_LAYER_ROOTS ${PROJECT_BINARY_DIR}/layers)

# vellico_layer(<target> <folder> [<folder below> ...]): gives <target> the
# include root that sees <folder> and the folders listed after it.
function(vellico_layer target folder)
  set(root ${VELLICO_LAYER_ROOTS}/${folder})
  file(MAKE_DIRECTORY ${root})
  foreach(visible ${folder} ${ARGN})
    if(NOT EXISTS ${root}/${visible})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${visible} ${root}/${visible} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
