# Precompiled headers shared by every target: one PCH for the system and its stand-ins, one for
# the tests, each compiled once in a small host target and reused by every other target. GCC
# takes a PCH only where the macros its headers test are the same (Qt's headers look at which
# Qt modules are in use), so every reuser gets the host's Qt definitions and include folders,
# though only the QtCore every target links anyway; Qt's own -fPIC makes libraries and
# executables agree on the code model. A PCH that does not fit is a warning, an error under
# NBR_WERROR, so a mismatch is never a silent slowdown. One cost: GCC 12 no longer keeps quiet
# about its false -Warray-bounds inside <string> once that header comes from a PCH, as for
# std::string(LITERAL) + "literal"; start from a named string instead.
option(NBR_PCH "Share precompiled headers across targets" ON)

set(NBR_PCH_DIR ${CMAKE_CURRENT_LIST_DIR})
set(NBR_PCH_TEST_LIBS GTest::gtest GTest::gmock)

function(nbr_pch_host name header)
  file(WRITE ${CMAKE_BINARY_DIR}/${name}.cpp "")
  add_library(${name} STATIC ${CMAKE_BINARY_DIR}/${name}.cpp)
  target_link_libraries(${name} PRIVATE ${ARGN})
  target_precompile_headers(${name} PRIVATE ${header})
endfunction()

if(NBR_PCH)
  add_library(nbr_pch_usage INTERFACE)
  target_link_libraries(nbr_pch_usage INTERFACE Qt6::Core)
  target_compile_definitions(nbr_pch_usage INTERFACE
    QT_CORE_LIB QT_DBUS_LIB QT_GUI_LIB QT_WIDGETS_LIB)
  foreach(qt Core DBus Gui Widgets)
    target_include_directories(nbr_pch_usage SYSTEM INTERFACE
      $<TARGET_PROPERTY:Qt6::${qt},INTERFACE_INCLUDE_DIRECTORIES>)
  endforeach()
  nbr_pch_host(nbr_pch ${NBR_PCH_DIR}/pch.h nbr_pch_usage Qt6::Core Qt6::DBus Qt6::Gui Qt6::Widgets)
  nbr_pch_host(nbr_pch_test ${NBR_PCH_DIR}/test_pch.h nbr_pch_usage ${NBR_PCH_TEST_LIBS})
  target_compile_options(nbr_pch_test PRIVATE ${NBR_TEST_COMPILE_OPTIONS})
endif()

# Every target of the directories given (and theirs below) reuses the PCH of its kind; test
# executables are told apart by the GoogleTest they link.
function(nbr_use_precompiled_headers)
  if(NOT NBR_PCH)
    return()
  endif()
  set(targets)
  set(dirs ${ARGN})
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(here DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(below DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND targets ${here})
    list(APPEND dirs ${below})
  endwhile()
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(target MATCHES "^nbr_pch" OR NOT type MATCHES "^(EXECUTABLE|[A-Z]+_LIBRARY)$"
        OR type STREQUAL "INTERFACE_LIBRARY")
      continue()
    endif()
    get_target_property(plain ${target} NBR_NO_PCH)
    if(plain)
      continue()
    endif()
    get_target_property(linked ${target} LINK_LIBRARIES)
    if(type STREQUAL "EXECUTABLE" AND "GTest::gtest" IN_LIST linked)
      # GCC crashes on a PCH made at another optimisation level, rather than refusing it.
      target_compile_options(${target} PRIVATE ${NBR_TEST_COMPILE_OPTIONS})
      target_link_libraries(${target} PRIVATE nbr_pch_usage ${NBR_PCH_TEST_LIBS})
      target_precompile_headers(${target} REUSE_FROM nbr_pch_test)
    else()
      target_link_libraries(${target} PRIVATE nbr_pch_usage)
      target_precompile_headers(${target} REUSE_FROM nbr_pch)
    endif()
  endforeach()
endfunction()
