# The distribution directory: setup, VamuQad.inf and the files it installs,
# in the layout the information file expects, assembled in ${CMAKE_BINARY_DIR}/dist
# by the target setup_dist (part of every build).
#
#   dist/setup  dist/VamuQad.inf  dist/README.md (setup's messages point to it)
#   dist/lib/   the libraries           dist/bin/   the programs
#   dist/site/  the site's files        dist/bases/ the document bases
#   dist/config/ templates of the nginx site and the FastCGI host's unit
#
# Targets that are not part of this build, site files and bases that do not
# exist yet are skipped with a message, so the step works while other parts
# are still being built; setup then reports the installation as incomplete.

set(VAMU_DIST_BASES
    "${CMAKE_BINARY_DIR}/demo-site/bases/acts.vq;${CMAKE_BINARY_DIR}/demo-site/bases/rulings.vq;${CMAKE_BINARY_DIR}/demo-site/bases/spis.vq"
    CACHE STRING "Document bases copied into dist/bases")

# Runs when the top directory is complete, so that targets of folders added
# after setup/ (tools/) are known.
function(vamu_setup_dist)
  set(setup_dir ${CMAKE_SOURCE_DIR}/setup)
  set(dist ${CMAKE_BINARY_DIR}/dist)
  set(deps setup)
  set(libs)
  set(programs)
  foreach(t vamuplatform kasten concorda biblion portico)
    if(TARGET ${t})
      list(APPEND libs "$<TARGET_FILE:${t}>")
      list(APPEND deps ${t})
    else()
      message(STATUS "setup_dist: library ${t} is not part of this build; dist/lib will lack it")
    endif()
  endforeach()
  foreach(t vamuserver vamufcgi vamubase)
    if(TARGET ${t})
      list(APPEND programs "$<TARGET_FILE:${t}>")
      list(APPEND deps ${t})
    else()
      message(STATUS "setup_dist: program ${t} is not part of this build; dist/bin will lack it")
    endif()
  endforeach()
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/setup/dist_files.cmake CONTENT
"set(DIST \"${dist}\")
set(DIST_SETUP \"$<TARGET_FILE:setup>\")
set(DIST_INF \"${setup_dir}/VamuQad.inf\")
set(DIST_README \"${CMAKE_SOURCE_DIR}/README.md\")
set(DIST_CONFIG_DIR \"${setup_dir}/config\")
set(DIST_LIBS \"${libs}\")
set(DIST_PROGRAMS \"${programs}\")
set(DIST_SITE_DIR \"${CMAKE_SOURCE_DIR}/site\")
set(DIST_BASES \"${VAMU_DIST_BASES}\")
")
  add_custom_target(setup_dist ALL
    COMMAND ${CMAKE_COMMAND} -DFILES=${CMAKE_BINARY_DIR}/setup/dist_files.cmake -P ${setup_dir}/dist_assemble.cmake
    COMMENT "Assembling the distribution directory ${dist}"
    VERBATIM)
  add_dependencies(setup_dist ${deps})
  if(TARGET setup_run_tests)
    add_dependencies(setup_run_tests setup_dist)
  endif()
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL vamu_setup_dist)
