# The maker's public key of PC suite packages (suite/package_signature.h). The self-upgrade runs
# the installer of the package the server offers; with the key built in, it runs nothing that the
# maker did not sign. A build without a key would run any package unchecked, so configuring one
# fails, unless the build says that it is for development only (KREVOL_DEV_UNSIGNED_SUITE, set by
# the dev, sanitizer and fuzz presets). The release preset takes the key from the environment
# variable KREVOL_SUITE_PUBLIC_KEY; scripts/run-demo builds with the sandbox's demo key.
#
# Included before project(), so that a missing key stops the configuration before anything else;
# also runs as a script (cmake -DKREVOL_SUITE_PUBLIC_KEY=... -P cmake/SuiteKey.cmake).

set(KREVOL_SUITE_PUBLIC_KEY "" CACHE STRING
  "Ed25519 public key (64 hex digits, or base64 of the 32 raw bytes) that PC suite packages must be signed with")
option(KREVOL_DEV_UNSIGNED_SUITE
  "Development build only: allow an empty KREVOL_SUITE_PUBLIC_KEY (suite packages then run unchecked)" OFF)

string(STRIP "${KREVOL_SUITE_PUBLIC_KEY}" krevol_suite_key)
string(LENGTH "${krevol_suite_key}" krevol_suite_key_length)
if(krevol_suite_key_length EQUAL 0)
  if(NOT KREVOL_DEV_UNSIGNED_SUITE)
    message(FATAL_ERROR
      "KREVOL_SUITE_PUBLIC_KEY is empty. A suite built without the maker's public key installs any PC "
      "suite package the server offers without checking its signature, so no package may be built "
      "from it.\n"
      "Set the key (64 hex digits or base64 of the 32 raw Ed25519 bytes): "
      "-DKREVOL_SUITE_PUBLIC_KEY=..., or for the release preset the environment variable "
      "KREVOL_SUITE_PUBLIC_KEY.\n"
      "For a development build that is never shipped, configure with -DKREVOL_DEV_UNSIGNED_SUITE=ON "
      "(the dev, sanitizer and fuzz presets do).")
  endif()
  message(STATUS "KREVOL_SUITE_PUBLIC_KEY is empty: development build, PC suite packages are not checked")
elseif(NOT ((krevol_suite_key_length EQUAL 64 AND krevol_suite_key MATCHES "^[0-9A-Fa-f]+$") OR
            (krevol_suite_key_length EQUAL 43 AND krevol_suite_key MATCHES "^[A-Za-z0-9+/]+$") OR
            (krevol_suite_key_length EQUAL 44 AND krevol_suite_key MATCHES "^[A-Za-z0-9+/]+=$")))
  message(FATAL_ERROR
    "KREVOL_SUITE_PUBLIC_KEY is not a public key: expected 64 hex digits or base64 of 32 bytes "
    "(43 characters, or 44 ending in \"=\"), got \"${KREVOL_SUITE_PUBLIC_KEY}\".")
endif()
unset(krevol_suite_key)
unset(krevol_suite_key_length)
