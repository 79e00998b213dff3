# sales_tally_signer(out certificate): the certificate's subject as Windows
# shows it ("CN=Corner Shop IT, O=Corner Shop"), the signer README.txt names
# (Guides.cmake) and every signing is held to (Sign.cmake).
function(sales_tally_signer out certificate)
  find_program(OPENSSL openssl REQUIRED)
  execute_process(COMMAND "${OPENSSL}" x509 -in "${certificate}" -noout -subject -nameopt RFC2253
                  OUTPUT_VARIABLE subject OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX REPLACE "^subject=" "" subject "${subject}")
  string(REGEX REPLACE "([^\\]),([A-Za-z]+=)" "\\1, \\2" subject "${subject}")
  set(${out} "${subject}" PARENT_SCOPE)
endfunction()
