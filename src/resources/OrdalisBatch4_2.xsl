<?xml version="1.0" encoding="UTF-8"?>
<!-- Shows a batch results file (odl_batch_result) as a page: a summary coloured by the overall
     result, a summary of the iterations, and one table of attempts per iteration. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>

  <!-- The background colour of a result word. -->
  <xsl:template name="colour">
    <xsl:param name="result"/>
    <xsl:choose>
      <xsl:when test="$result = 'Passed'"><xsl:attribute name="bgcolor">#00FF00</xsl:attribute></xsl:when>
      <xsl:when test="$result = 'Failed'"><xsl:attribute name="bgcolor">#FF0000</xsl:attribute></xsl:when>
      <xsl:when test="$result = 'Error'"><xsl:attribute name="bgcolor">#E00000</xsl:attribute></xsl:when>
      <xsl:when test="$result = 'Warning'"><xsl:attribute name="bgcolor">#FFFF00</xsl:attribute></xsl:when>
      <xsl:when test="$result = 'Aborted'"><xsl:attribute name="bgcolor">#0099FF</xsl:attribute></xsl:when>
    </xsl:choose>
  </xsl:template>

  <!-- " (NN%)" of [part] out of [whole], nothing when whole is 0. -->
  <xsl:template name="percentage">
    <xsl:param name="part"/>
    <xsl:param name="whole"/>
    <xsl:if test="$whole &gt; 0">
      <xsl:text> (</xsl:text>
      <xsl:value-of select="round(100 * $part div $whole)"/>
      <xsl:text>%)</xsl:text>
    </xsl:if>
  </xsl:template>

  <xsl:template match="/odl_batch_result">
    <xsl:variable name="items" select="iteration/item"/>
    <xsl:variable name="passed" select="count($items[result = 'Passed'])"/>
    <xsl:variable name="counted" select="count($items[result != 'Aborted'])"/>
    <xsl:variable name="code"
        select="($passed * 12345678 + (count($items) - $passed) * 87654321) mod 4294967296"/>
    <html>
      <head><title>Test Results for <xsl:value-of select="name"/></title></head>
      <body>
        <div align="center">
          <h1>Test Results for <xsl:value-of select="name"/></h1>
          <xsl:if test="result_check_code and number(result_check_code) != $code">
            <h2><font color="#FF0000">The results file has been modified!</font></h2>
          </xsl:if>
          <table border="1" cellpadding="4">
            <xsl:call-template name="colour">
              <xsl:with-param name="result" select="overall_result"/>
            </xsl:call-template>
            <tr><th align="left">Version Under Test</th><td><xsl:value-of select="versionundertest"/></td></tr>
            <xsl:if test="comment">
              <tr><th align="left">Comment</th><td><xsl:value-of select="comment"/></td></tr>
            </xsl:if>
            <tr><th align="left">Host</th><td><xsl:value-of select="host_name"/></td></tr>
            <tr><th align="left">Start Date</th><td><xsl:value-of select="startdate"/></td></tr>
            <tr><th align="left">Start Time</th><td><xsl:value-of select="starttime"/></td></tr>
            <tr><th align="left">Date</th><td><xsl:value-of select="date"/></td></tr>
            <tr><th align="left">Time</th><td><xsl:value-of select="time"/></td></tr>
            <tr><th align="left">Result</th><td><xsl:value-of select="overall_result"/></td></tr>
            <tr>
              <th align="left">Passed</th>
              <td>
                <xsl:value-of select="$passed"/> out of <xsl:value-of select="$counted"/>
                <xsl:call-template name="percentage">
                  <xsl:with-param name="part" select="$passed"/>
                  <xsl:with-param name="whole" select="$counted"/>
                </xsl:call-template>
              </td>
            </tr>
          </table>
          <xsl:if test="iteration">
            <xsl:variable name="passed_iterations" select="count(iteration[result = 'Passed'])"/>
            <xsl:variable name="iterations" select="count(iteration[result != 'Aborted'])"/>
            <p>
              Test Iteration Results Summary Passed <xsl:value-of select="$passed_iterations"/> out of
              <xsl:value-of select="$iterations"/>
              <xsl:call-template name="percentage">
                <xsl:with-param name="part" select="$passed_iterations"/>
                <xsl:with-param name="whole" select="$iterations"/>
              </xsl:call-template>
            </p>
            <table border="1" cellpadding="4">
              <tr bgcolor="#9acd32"><th>Iteration</th><th>Result Count</th><th>Result</th><th>Passed</th></tr>
              <xsl:for-each select="iteration">
                <tr>
                  <xsl:call-template name="colour">
                    <xsl:with-param name="result" select="result"/>
                  </xsl:call-template>
                  <td><xsl:value-of select="position()"/></td>
                  <td><xsl:value-of select="count(item)"/></td>
                  <td><xsl:value-of select="result"/></td>
                  <td><xsl:value-of select="count(item[result = 'Passed'])"/></td>
                </tr>
              </xsl:for-each>
            </table>
            <xsl:apply-templates select="iteration"/>
          </xsl:if>
        </div>
      </body>
    </html>
  </xsl:template>

  <xsl:template match="iteration">
    <xsl:variable name="comments" select="boolean(item/comments)"/>
    <h2>Iteration <xsl:value-of select="position()"/></h2>
    <table border="1" cellpadding="4">
      <tr bgcolor="#9acd32">
        <th>Count</th><th>Name</th><th>Result</th><th>Results File</th>
        <xsl:if test="$comments"><th>Comments</th></xsl:if>
      </tr>
      <xsl:for-each select="item">
        <tr>
          <xsl:call-template name="colour">
            <xsl:with-param name="result" select="result"/>
          </xsl:call-template>
          <td><xsl:value-of select="position()"/></td>
          <td><a href="{name}"><xsl:value-of select="name"/></a></td>
          <td><xsl:value-of select="result"/></td>
          <td>
            <xsl:if test="resultsfile">
              <a href="{resultsfile}"><xsl:value-of select="resultsfile"/></a>
            </xsl:if>
          </td>
          <xsl:if test="$comments"><td><xsl:value-of select="comments"/></td></xsl:if>
        </tr>
      </xsl:for-each>
    </table>
  </xsl:template>
</xsl:stylesheet>
