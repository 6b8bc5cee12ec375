# kv_loop_cleanup: before any root test that uses loop images, detach the loop devices and
# mounts that crashed runs of this build left behind (backing files under <build>/tests/loop).
add_test(NAME kv_loop_cleanup COMMAND kvprog_loop_cleanup "${CMAKE_BINARY_DIR}/tests/loop")
set_tests_properties(kv_loop_cleanup PROPERTIES FIXTURES_SETUP kv_loop_cleanup LABELS root TIMEOUT 120
                     ENVIRONMENT "KV_BUILD_DIR=${CMAKE_BINARY_DIR}")
