# Run by cpack after the install into its staging tree, before the archive is
# made. Debian keeps man pages gzipped (-n: no name or time stamp, so the
# package is reproducible) and the licence as doc/<package>/copyright.
if(NOT CPACK_TEMPORARY_DIRECTORY)
  message(FATAL_ERROR "package_tree.cmake is meant to be run by cpack")
endif()
set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")

file(GLOB pages "${root}/share/man/man*/*")
list(FILTER pages EXCLUDE REGEX "\\.gz$")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip -9n ${page} failed: ${status}")
  endif()
endforeach()

set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")
if(NOT EXISTS "${doc}/LICENSE")
  message(FATAL_ERROR "no ${doc}/LICENSE in the staged tree")
endif()
file(RENAME "${doc}/LICENSE" "${doc}/copyright")
