# The browser app's pages go next to the program in the build folder, as an install puts them
# (tools/install): the service serves "Pages" from the folder that holds the program file.
file(GLOB_RECURSE vellumo_page_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/pages/app/*)
set(vellumo_pages_stamp ${CMAKE_CURRENT_BINARY_DIR}/vellumo_pages.stamp)
add_custom_command(OUTPUT ${vellumo_pages_stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -rf $<TARGET_FILE_DIR:vellumo>/Pages/app
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_CURRENT_LIST_DIR}/pages/app
            $<TARGET_FILE_DIR:vellumo>/Pages/app
    COMMAND ${CMAKE_COMMAND} -E touch ${vellumo_pages_stamp}
    DEPENDS ${vellumo_page_files}
    COMMENT "Copying the browser app's pages next to vellumo")
add_custom_target(vellumo_pages ALL DEPENDS ${vellumo_pages_stamp})
add_dependencies(vellumo vellumo_pages)

# Installed with the programs by tools/install.
