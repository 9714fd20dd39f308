/* The version carrier: a module without code whose version note carries the
   product version and whose string table carries the channel id (string 101). */
int qm_version_carrier = 1;
