// Tests of the seed corpus (filled in below).
