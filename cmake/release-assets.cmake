# Builds the release's assets with the presets that make them and gathers
# them into OUT: d88cut.html (the page as one file), the Windows zip (which
# holds it too) and the Debian package, with a file of their SHA-256 sums.
# Run by the target assets (cmake --workflow --preset assets). Needs what
# the web, windows and deb presets need. Expects SOURCE, OUT, VERSION and
# CPACK.

# The builds below are makes of their own, not jobs of the make that runs
# this script.
unset(ENV{MAKEFLAGS})
unset(ENV{MFLAGS})
unset(ENV{MAKELEVEL})

function(run)
  message(STATUS "assets: ${ARGV}")
  execute_process(COMMAND ${ARGV} WORKING_DIRECTORY ${SOURCE} COMMAND_ERROR_IS_FATAL ANY)
endfunction()

# The page first: the Windows zip takes d88cut.html from it.
run(${CMAKE_COMMAND} --workflow --preset web)
run(${CMAKE_COMMAND} --workflow --preset windows)
file(GLOB zips ${SOURCE}/build/windows/d88cut-*.zip)
if(zips)
  file(REMOVE ${zips})
endif()
execute_process(COMMAND ${CPACK} WORKING_DIRECTORY ${SOURCE}/build/windows COMMAND_ERROR_IS_FATAL ANY)
run(${CMAKE_COMMAND} --workflow --preset deb)

file(GLOB debs ${SOURCE}/build/release/d88cut_${VERSION}_*.deb)
if(NOT debs)
  message(FATAL_ERROR "the Debian package d88cut_${VERSION}_*.deb was not made")
endif()
set(assets ${SOURCE}/build/web/site/d88cut.html ${SOURCE}/build/windows/d88cut-${VERSION}-win64.zip ${debs})
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
set(sums "")
foreach(asset IN LISTS assets)
  if(NOT EXISTS ${asset})
    message(FATAL_ERROR "${asset} was not made")
  endif()
  get_filename_component(name ${asset} NAME)
  file(COPY_FILE ${asset} ${OUT}/${name})
  file(SHA256 ${asset} sum)
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
file(WRITE ${OUT}/SHA256SUMS ${sums})
message(STATUS "assets: in ${OUT}:\n${sums}")
