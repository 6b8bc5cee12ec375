# kv_loop_cleanup: before any root test that uses loop images, detach the loop devices and
# mounts that crashed runs of this build left behind (backing files under <build>/tests/loop).
add_test(NAME kv_loop_cleanup COMMAND kvprog_loop_cleanup "${CMAKE_BINARY_DIR}/tests/loop")
set_tests_properties(kv_loop_cleanup PROPERTIES FIXTURES_SETUP kv_loop_cleanup LABELS root TIMEOUT 120
                     ENVIRONMENT "KV_BUILD_DIR=${CMAKE_BINARY_DIR}")

# kv_testuser: the users that reach root through sudo (kvtest in group sudo, kvtestout without
# rights, kvtestnp with a NOPASSWD rule), made before and removed after the tests that need them.
# Those tests also take the RESOURCE_LOCK kvtest (fixtures=kv_testuser lock=kvtest).
set(KV_TESTUSER_STATE "/tmp/kvtest-state")
add_test(NAME kv_testuser_setup COMMAND /bin/sh "${CMAKE_CURRENT_SOURCE_DIR}/support/testuser_fixture.sh"
         setup "${KV_TESTUSER_STATE}")
add_test(NAME kv_testuser_cleanup COMMAND /bin/sh "${CMAKE_CURRENT_SOURCE_DIR}/support/testuser_fixture.sh"
         cleanup "${KV_TESTUSER_STATE}")
set_tests_properties(kv_testuser_setup PROPERTIES FIXTURES_SETUP kv_testuser RESOURCE_LOCK kvtest LABELS root TIMEOUT 120)
set_tests_properties(kv_testuser_cleanup PROPERTIES FIXTURES_CLEANUP kv_testuser RESOURCE_LOCK kvtest LABELS root TIMEOUT 120)
