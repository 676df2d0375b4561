# Install rules and the Debian package of the Linux build: the program where xscreensaver looks for
# hacks, the tools on the PATH, a man page for each program, and the demo content as an example
# saver that xscreensaver can run ("dazzlebox-demo").
include(GNUInstallDirs)
set(dbx_hackdir ${CMAKE_INSTALL_LIBEXECDIR}/xscreensaver)
set(dbx_demo_dir ${CMAKE_INSTALL_DATADIR}/dazzlebox/demo)
set(dbx_demo_name "Dazzlebox Demo")

if(TARGET dazzlebox)
  install(TARGETS dazzlebox RUNTIME DESTINATION ${dbx_hackdir})
  install(CODE "
    set(root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    file(MAKE_DIRECTORY \"\${root}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK ../libexec/xscreensaver/dazzlebox \"\${root}/${CMAKE_INSTALL_BINDIR}/dazzlebox\" SYMBOLIC)
  ")
endif()
foreach(tool nudger dazzlebox-render dazzlebox-movie dazzlebox-pack)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
# Man pages, compressed as Debian keeps them; each only with its program.
find_program(DBX_GZIP gzip)
set(dbx_man_gz)
foreach(page dazzlebox.6 nudger.1 dazzlebox-render.1 dazzlebox-movie.1 dazzlebox-pack.1)
  string(REGEX REPLACE "\\.[0-9]$" "" program ${page})
  if(NOT TARGET ${program} OR NOT DBX_GZIP)
    continue()
  endif()
  string(REGEX REPLACE "^.*\\." "" section ${page})
  set(gz ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${DBX_GZIP} -9n -c ${CMAKE_SOURCE_DIR}/man/${page} > ${gz}
    DEPENDS ${CMAKE_SOURCE_DIR}/man/${page} VERBATIM)
  list(APPEND dbx_man_gz ${gz})
  install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(dbx_man_pages ALL DEPENDS ${dbx_man_gz})

# The demo saver: its content is generated at install time, the program is a link named after the
# saver (the program finds its content beside the name it was started by), and xscreensaver starts
# it through a small script in its hack folder.
if(TARGET make_demo_content AND TARGET dazzlebox)
  install(CODE "
    set(root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    set(demo \"\${root}/${dbx_demo_dir}\")
    file(REMOVE_RECURSE \"\${demo}\")
    execute_process(COMMAND \"$<TARGET_FILE:make_demo_content>\" \"\${demo}\" \"${dbx_demo_name}\"
                    OUTPUT_QUIET RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR \"the demo content could not be made\")
    endif()
    file(CREATE_LINK ../../../libexec/xscreensaver/dazzlebox \"\${demo}/${dbx_demo_name}.scr\" SYMBOLIC)
  ")
  install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/dazzlebox-demo DESTINATION ${dbx_hackdir})
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/dazzlebox-demo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/xscreensaver/config)
endif()

set(CPACK_PACKAGE_NAME dazzlebox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Dazzlebox authors <dazzlebox@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screensaver: picture slideshows with transitions, and SWF movies")
set(CPACK_PACKAGE_DESCRIPTION "Dazzlebox shows one piece of content full screen: a slideshow of JPEG/BMP
pictures through nineteen animated transitions, or an SWF movie played by its own player. It works
as an xscreensaver hack; dazzlebox-pack makes new savers from pictures or movies.")
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS xscreensaver)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
include(CPack)
