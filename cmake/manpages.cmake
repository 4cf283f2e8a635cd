# Manual pages and the documents every Debian package carries. trislip(1)
# is written by hand: the program takes no options (--help would run it).
# trislip-custom(1) and trislip-fault(1) are made from the programs' own
# --help and --version by Debian's help2man, with their files, exit statuses
# and examples from man/*.h2m, so that each says what the program does.
find_program(TRISLIP_HELP2MAN help2man)
find_program(TRISLIP_GZIP gzip)
set(trislip_doc_dir ${PROJECT_BINARY_DIR}/doc)
if(TRISLIP_GZIP AND NOT CMAKE_CROSSCOMPILING AND NOT WIN32)
  set(trislip_man_pages ${trislip_doc_dir}/trislip.1.gz)
  add_custom_command(OUTPUT ${trislip_doc_dir}/trislip.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${trislip_doc_dir}
    COMMAND ${TRISLIP_GZIP} -9nc ${PROJECT_SOURCE_DIR}/man/trislip.1 > ${trislip_doc_dir}/trislip.1.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/man/trislip.1 VERBATIM)
  if(TRISLIP_HELP2MAN AND TARGET trislip_custom)
    foreach(program custom fault)
      set(page ${trislip_doc_dir}/trislip-${program}.1)
      list(APPEND trislip_man_pages ${page}.gz)
      add_custom_command(OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${trislip_doc_dir}
        COMMAND ${TRISLIP_HELP2MAN} --no-info --section=1 --include=${PROJECT_SOURCE_DIR}/man/trislip-${program}.h2m
                -o ${page} $<TARGET_FILE:trislip_${program}>
        COMMAND ${TRISLIP_GZIP} -9nf ${page}
        DEPENDS trislip_${program} ${PROJECT_SOURCE_DIR}/man/trislip-${program}.h2m VERBATIM)
    endforeach()
  elseif(TARGET trislip_custom)
    message(STATUS "help2man not found: no trislip-custom(1) or trislip-fault(1)")
  endif()
  add_custom_command(OUTPUT ${trislip_doc_dir}/changelog.Debian.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${trislip_doc_dir}
    COMMAND ${TRISLIP_GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${trislip_doc_dir}/changelog.Debian.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
  add_custom_target(trislip_docs ALL DEPENDS ${trislip_man_pages} ${trislip_doc_dir}/changelog.Debian.gz)
  install(FILES ${trislip_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
endif()
# Each Debian package's copyright, changelog and lintian override, under
# its own name: only in the packages' build, never in a user's prefix.
option(TRISLIP_DEBIAN_FILES "Install the Debian packages' copyright, changelog and lintian overrides" OFF)
if(TRISLIP_DEBIAN_FILES AND TARGET trislip_docs)
  set(package_of_programs trislip)
  set(package_of_dev libtrislip-dev)
  set(package_of_python python3-trislip)
  foreach(part programs dev python)
    set(package ${package_of_${part}})
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${trislip_doc_dir}/changelog.Debian.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${part})
    file(WRITE ${trislip_doc_dir}/overrides/${package}
      "# Built outside Debian's archive: its first changelog entry has no ITP bug to close.\n"
      "${package}: initial-upload-closes-no-bugs\n")
    install(FILES ${trislip_doc_dir}/overrides/${package}
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT ${part})
  endforeach()
endif()
