# The portable identification flow (no Windows headers): built by every toolchain.
