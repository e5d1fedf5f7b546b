# The browser app's pages go next to the program: the service serves "Pages" from the folder
# that holds the program file, in the build folder as after an install.
file(GLOB_RECURSE vellumo_page_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/app/*)
set(vellumo_pages_stamp ${CMAKE_CURRENT_BINARY_DIR}/vellumo_pages.stamp)
add_custom_command(OUTPUT ${vellumo_pages_stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -rf $<TARGET_FILE_DIR:vellumo>/Pages/app
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_CURRENT_LIST_DIR}/app
            $<TARGET_FILE_DIR:vellumo>/Pages/app
    COMMAND ${CMAKE_COMMAND} -E touch ${vellumo_pages_stamp}
    DEPENDS ${vellumo_page_files}
    COMMENT "Copying the browser app's pages next to vellumo")
add_custom_target(vellumo_pages ALL DEPENDS ${vellumo_pages_stamp})
add_dependencies(vellumo vellumo_pages)

set(VELLUMO_PROGRAM_DIR bin CACHE STRING "Folder, below the install prefix, that holds vellumo")
install(DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/app DESTINATION ${VELLUMO_PROGRAM_DIR}/Pages)
