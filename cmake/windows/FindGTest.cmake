# GoogleTest for the Windows cross-builds. Debian packages GoogleTest for
# Linux only, but ships its sources (package googletest); they are built
# here with the cross compiler, once per build tree. Provides the targets
# GTest::gtest, GTest::gtest_main, GTest::gmock and GTest::gmock_main, like
# CMake's own FindGTest.
set(QVX_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")

if(NOT TARGET GTest::gtest)
  if(NOT EXISTS ${QVX_GTEST_SOURCE_DIR}/CMakeLists.txt)
    set(GTest_FOUND FALSE)
    if(GTest_FIND_REQUIRED)
      message(FATAL_ERROR "GoogleTest sources not found in ${QVX_GTEST_SOURCE_DIR} "
                          "(Debian package googletest)")
    endif()
    return()
  endif()
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QVX_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main gmock gmock_main)
    # Their headers count as system headers: our warnings are not theirs.
    get_target_property(dirs ${lib} INTERFACE_INCLUDE_DIRECTORIES)
    set_target_properties(${lib} PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${dirs}")
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
endif()

set(GTest_FOUND TRUE)
set(GTEST_FOUND TRUE)
set(GTEST_LIBRARIES GTest::gtest)
set(GTEST_MAIN_LIBRARIES GTest::gtest_main)
set(GTEST_BOTH_LIBRARIES GTest::gtest GTest::gtest_main)
