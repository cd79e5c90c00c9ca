# Builds tools/ with the build machine's own compiler and exposes each tool as an imported
# executable target (velquor_host_<name>), so that custom commands can run it in native and
# in cross builds alike.
set(VELQUOR_HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host-tools)
if(NOT CMAKE_CROSSCOMPILING)
    add_subdirectory(${CMAKE_SOURCE_DIR}/tools ${VELQUOR_HOST_TOOLS_DIR})
else()
    include(ExternalProject)
    ExternalProject_Add(velquor_host_tools_build
        SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools
        BINARY_DIR ${VELQUOR_HOST_TOOLS_DIR}
        CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=
        BUILD_ALWAYS ON
        INSTALL_COMMAND ""
        BUILD_BYPRODUCTS ${VELQUOR_HOST_TOOLS_DIR}/velquor_make_images ${VELQUOR_HOST_TOOLS_DIR}/velquor_make_artwork
                         ${VELQUOR_HOST_TOOLS_DIR}/velquor_make_page_texts)
endif()

# velquor_host_tool(<var> <name>): the path of host tool <name> and a dependency to add.
function(velquor_host_tool out_path out_depends name)
    if(NOT CMAKE_CROSSCOMPILING)
        set(${out_path} $<TARGET_FILE:${name}> PARENT_SCOPE)
        set(${out_depends} ${name} PARENT_SCOPE)
    else()
        set(${out_path} ${VELQUOR_HOST_TOOLS_DIR}/${name} PARENT_SCOPE)
        set(${out_depends} velquor_host_tools_build PARENT_SCOPE)
    endif()
endfunction()
