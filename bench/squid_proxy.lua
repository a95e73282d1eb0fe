-- wrk script for bench/squid_bench.sh: wrk has no proxy mode, so each request carries the absolute
-- URL and a Proxy-Authorization header. Arguments: URL, then one "Basic ..." credential per user;
-- requests go round the users so that the filter charges several of them.
local requests = {}
local next_request = 1

function init(args)
  local url = args[1]
  local host = url:match("^%a+://([^/]+)")
  for i = 2, #args do
    requests[#requests + 1] = wrk.format("GET", url, { ["Host"] = host, ["Proxy-Authorization"] = args[i] })
  end
end

function request()
  local r = requests[next_request]
  next_request = next_request % #requests + 1
  return r
end
