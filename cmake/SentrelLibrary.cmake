# What every library under src/ shares: its folder on its users' include path, and one set of
# precompiled headers (the first library builds it, the others reuse it: they compile with the
# same flags).
function(sentrel_library target)
    target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    if(NOT TARGET sentrel_common_headers)
        add_library(sentrel_common_headers OBJECT ${PROJECT_SOURCE_DIR}/cmake/CommonHeaders.cpp)
        target_link_libraries(sentrel_common_headers PRIVATE Qt6::Core)
        target_precompile_headers(sentrel_common_headers PRIVATE ${PROJECT_SOURCE_DIR}/cmake/CommonHeaders.h)
    endif()
    target_precompile_headers(${target} REUSE_FROM sentrel_common_headers)
endfunction()
