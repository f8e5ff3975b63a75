// LZARI decoder stream adapters.
