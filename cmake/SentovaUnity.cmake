# Unity builds for the targets whose units spend most of their time parsing the
# same third-party headers. A batch is one unit: the anonymous-namespace helpers
# and statics of its files share one scope and need names of their own; a file
# that cannot share one is marked SKIP_UNITY_BUILD_INCLUSION beside its target.
# Targets whose time goes into their own templates gain nothing and are left out
# (the live server's units are split so that they compile side by side).

# sentova_unity_build(<target> [BATCH <sources per unit>])
function(sentova_unity_build target)
  cmake_parse_arguments(U "" "BATCH" "" ${ARGN})
  if(NOT U_BATCH)
    set(U_BATCH 8)
  endif()
  set_target_properties(${target} PROPERTIES
    UNITY_BUILD ${SENTOVA_UNITY_SOURCES}
    UNITY_BUILD_BATCH_SIZE ${U_BATCH})
endfunction()
