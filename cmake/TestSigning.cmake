# Code signing for the test build: the stand-in installers are signed as the
# real ones are, so that every test and the demo run them through the same
# signature check. The certificates are self-signed, made with openssl in the
# build tree on first use and never kept anywhere else.
find_program(NORVALIS_OPENSSL openssl)
find_program(NORVALIS_OSSLSIGNCODE osslsigncode)
if(NOT NORVALIS_OPENSSL OR NOT NORVALIS_OSSLSIGNCODE)
  message(FATAL_ERROR "openssl and osslsigncode sign the test programs: run `make deps` first")
endif()

# A code-signing certificate and its key: build/<preset>/signing/<name>.crt
# and .key. <subject> lists its name's attributes, such as
# "O=Microsoft Corporation;CN=Microsoft Corporation". <digest> is the hash of
# the certificate's own signature (sha256, or sha1 for the fixtures that need
# Wine to judge the chain; see tests/unit/SignatureTest.cpp).
function(norvalis_test_certificate name subject digest)
  set(base ${CMAKE_BINARY_DIR}/signing/${name})
  list(JOIN subject "\n" subjectLines)
  file(CONFIGURE OUTPUT ${base}.cnf CONTENT [[
[req]
distinguished_name = subject
prompt = no
x509_extensions = codesigning
[subject]
@subjectLines@
[codesigning]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
]] @ONLY)
  add_custom_command(OUTPUT ${base}.crt ${base}.key
    COMMAND ${NORVALIS_OPENSSL} genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -quiet
            -out ${base}.key
    COMMAND ${NORVALIS_OPENSSL} req -x509 -config ${base}.cnf -key ${base}.key -${digest}
            -days 3650 -out ${base}.crt
    DEPENDS ${base}.cnf
    COMMENT "Test code-signing certificate ${name} (${subject})"
    VERBATIM)
endfunction()

# <output>: a copy of <input> with an Authenticode signature by the test
# certificate <certificate>. Further arguments are more dependencies (such as
# the target that builds <input>).
function(norvalis_signed_file input output certificate)
  set(base ${CMAKE_BINARY_DIR}/signing/${certificate})
  add_custom_command(OUTPUT ${output}
    # osslsigncode refuses to overwrite its output.
    COMMAND ${CMAKE_COMMAND} -E rm -f ${output}
    COMMAND ${NORVALIS_OSSLSIGNCODE} sign -certs ${base}.crt -key ${base}.key
            -n "Norvalis test stand-in" -h sha256 -in ${input} -out ${output}
    DEPENDS ${input} ${base}.crt ${base}.key ${ARGN}
    COMMENT "Signing ${output} (${certificate})"
    VERBATIM)
endfunction()
