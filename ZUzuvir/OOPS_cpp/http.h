// HTTP client state: the proxy settings the preference reader fills.
#ifndef HTTP_H
#define HTTP_H

#include <string>

class http_class {
public:
	std::string proxy_host;       // empty: no proxy
	std::string proxy_port_text;  // the port as the user typed it
	int         proxy_port = 0;   // port used for connections; 0: no proxy
};
extern http_class http;

#endif
